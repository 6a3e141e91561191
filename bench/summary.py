"""Writing a benchmark's results: summary.txt for people, summary.json for tools."""
import json
import os


def write_summary(out_dir, lines, data):
    """Writes lines and data into out_dir, prints the lines, returns 0."""
    text = "\n".join(lines) + "\n"
    with open(os.path.join(out_dir, "summary.txt"), "w") as f:
        f.write(text)
    with open(os.path.join(out_dir, "summary.json"), "w") as f:
        json.dump(data, f, indent=1)
    print(text)
    return 0
