#include "sim_test.h"

#include <iconv.h>

#include <fstream>
#include <sstream>

static std::string Convert(const char* to, const char* from, const std::string& text) {
  iconv_t cd = iconv_open(to, from);
  if (cd == (iconv_t)-1) return std::string();
  std::string out(text.size() * 3 + 4, '\0');
  char* in = const_cast<char*>(text.data());
  size_t inLeft = text.size();
  char* outp = &out[0];
  size_t outLeft = out.size();
  size_t rc = iconv(cd, &in, &inLeft, &outp, &outLeft);
  iconv_close(cd);
  EXPECT_NE(rc, (size_t)-1) << "not convertible from " << from << " to " << to << ": " << text;
  out.resize(out.size() - outLeft);
  return out;
}

std::string Sjis(const std::string& utf8) { return Convert("CP932", "UTF-8", utf8); }
std::string Utf8(const std::string& sjis) { return Convert("UTF-8", "CP932", sjis); }

std::string Banner(const std::string& titleSjis, const char* stamp) {
  std::string line(128, '*');
  std::string text = " " + titleSjis + " " + stamp + " ";
  line.replace(10, text.size(), text);
  return line + "\r\n";
}

std::string GoldenLog(const std::string& name) {
  std::ifstream in(std::string(TAVO_GOLDEN_DIR) + "/" + name, std::ios::binary);
  EXPECT_TRUE(in.good()) << "missing golden file " << name;
  std::string line, out;
  while (std::getline(in, line)) {
    if (!line.empty() && line[0] == '#') continue;  // comment
    if (!line.empty() && line[0] == '@') {
      out += Banner(Sjis(line.substr(1)));
    } else {
      out += Sjis(line) + "\r\n";
    }
  }
  return out;
}

std::vector<std::string> SplitLines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find("\r\n", start);
    if (end == std::string::npos) {
      lines.push_back(text.substr(start));
      break;
    }
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}
