"""The tables of the Wine benchmarks (summary.txt) and their figures
(summary.json), made from the raw records of runs.jsonl. Failed runs are
listed and left out of every figure."""

import statistics

from deletion import SHAPES, VIEWS
from logsteps import DELETION_STEPS
from whole import work_gaps

WHOLE_KEYS = ("total_ms", "log_dialog_intervals_ms", "log_work_intervals_ms", "host_total_ms",
              "host_answer_ms", "host_work_ms")
DELETE_KEYS = ("tool64_ms", "tool32_ms", "reg64_ms", "reg32_ms", "reg64_wall_ms", "reg32_wall_ms",
               "tool64_banner_gap_ms", "tool32_banner_gap_ms")
REQUEST_COLUMNS = ("tool64", "tool32", "reg64", "reg32")


def stats(values):
    v = [x for x in values if x is not None]
    if not v:
        return None
    return {"n": len(v), "median": statistics.median(v), "min": min(v), "max": max(v)}


def fmt(s, unit="ms", digits=0):
    if not s:
        return "no data"
    f = f"{{:.{digits}f}}"
    return f"{f.format(s['median'])} {unit} (min {f.format(s['min'])}, max {f.format(s['max'])}, n={s['n']})"


def summarize(records):
    """(lines of summary.txt, the data of summary.json)."""
    out, js = [], {}
    ok = [r for r in records if not r.get("errors")]
    bad = [r for r in records if r.get("errors")]
    if bad:
        out.append(f"failed runs (left out): {len(bad)}")
        for r in bad:
            out.append(f"  {r['part']} {r.get('case')} #{r.get('i')}: {'; '.join(r['errors'])[:300]}")
        out.append("")
    for section in (whole_section, memory_section, delete_section, requests_section):
        section(ok, out, js)
    return out, js


def whole_section(ok, out, js):
    whole = [r for r in ok if r["part"] == "whole"]
    if not whole:
        return
    out.append("== whole run, #1 banner to #25 banner ==")
    for case in ("empty", "full"):
        rs = [r for r in whole if r["case"] == case]
        if not rs:
            continue
        s = js[f"whole_{case}"] = {k: stats([r.get(k) for r in rs]) for k in WHOLE_KEYS}
        s["answer_each_ms"] = stats([w for r in rs for w in r.get("host_answer_each_ms", [])])
        s["questions"] = rs[0].get("questions")
        out.append(f"{case} machine ({s['questions']} questions answered, plus the closing dialog):")
        out.append(f"  #1..#25 (log clock)               {fmt(s['total_ms'])}")
        out.append(f"    banner intervals with a dialog  {fmt(s['log_dialog_intervals_ms'])}")
        out.append(f"    banner intervals without        {fmt(s['log_work_intervals_ms'])}")
        out.append(f"  #1..#25 (host clock, watcher)     {fmt(s['host_total_ms'])}")
        out.append(f"    waiting for answers             {fmt(s['host_answer_ms'])}")
        out.append(f"    the rest (the tool working)     {fmt(s['host_work_ms'])}")
        out.append(f"    one answer                      {fmt(s['answer_each_ms'])}")
        # Where the working time goes: the largest gaps by median over runs.
        gaps = sorted(((statistics.median(v), i, text) for i, text, v in work_gaps(case, rs)),
                      key=lambda g: (-g[0], g[1]))
        top = [g for g in gaps[:5] if g[0] > 0]
        s["largest_work_gaps"] = [{"line": text, "median_ms": m} for m, _, text in top]
        out.append("    largest working gaps (median ms, the line written at the end of the gap):"
                   + ("" if top else " none of 1 ms or more"))
        for m, i, text in top:
            out.append(f"      {m:6.1f}  line {i + 1}: {text[:70]}")
    out.append("")


def memory_section(ok, out, js):
    mem = [r for r in ok if r.get("mem")]
    if not mem:
        return
    out.append("== peak memory of the Wine process running the program (VmHWM) ==")
    js["memory"] = {}
    for case in ("empty", "full", "baseline"):
        rs = [r for r in mem if r["case"] == case]
        if not rs:
            continue
        s = js["memory"][case] = {k: stats([r["mem"].get(k) for r in rs]) for k in ("VmHWM", "VmPeak")}
        out.append(f"  {case:9s} VmHWM {fmt(s['VmHWM'], 'kB')}; VmPeak {fmt(s['VmPeak'], 'kB')}")
    # What the tool has resident beyond a bare message-box program: the
    # median resident kB per mapping over the runs, full minus baseline.
    med = {}
    for case in ("full", "baseline"):
        maps = [r["rss_by_mapping"] for r in mem if r["case"] == case and r.get("rss_by_mapping")]
        names = {k for m in maps for k in m}
        med[case] = {k: statistics.median([m.get(k, 0) for m in maps]) for k in names} if maps else {}
    if med["full"] and med["baseline"]:
        diff = {k: med["full"].get(k, 0) - med["baseline"].get(k, 0) for k in set(med["full"]) | set(med["baseline"])}
        js["memory"]["resident_kb_full_minus_baseline"] = diff
        js["memory"]["resident_kb_total"] = {c: sum(m.values()) for c, m in med.items()}
        out.append(f"  resident at the fullest look (smaps, medians): full {sum(med['full'].values()):.0f} kB, "
                   f"baseline {sum(med['baseline'].values()):.0f} kB; largest differences:")
        for k, v in sorted(diff.items(), key=lambda kv: -abs(kv[1]))[:10]:
            out.append(f"    {v:+7.0f} kB  {k}")
    out.append("")


def delete_view_lines(s, v):
    """The lines of one registry view of a shape's deletion figures s (filled in with the ratios)."""
    t, g = s[f"tool{v}_ms"], s[f"reg{v}_ms"]
    ratio = t["median"] / g["median"] if t and g and g["median"] else None
    s[f"ratio{v}"] = ratio
    s[f"min_ratio{v}"] = t["min"] / g["min"] if t and g and g["min"] else None
    below = " (below the watcher's 1 ms step)" if t and t["max"] < 1 else ""
    ask, nxt = DELETION_STEPS[v]
    out = [f"  {v}-bit view  tool {fmt(t, digits=1)}{below}",
           f"               reg.exe {fmt(g, digits=1)}  (wall incl. start: {fmt(s[f'reg{v}_wall_ms'])})",
           f"               ratio of medians tool/reg.exe: {'%.1f' % ratio if ratio else 'n/a'}"
           + (f"; per key: tool {t['median'] * 1000 / s['keys']:.0f} us" if t else "")]
    if s[f"paired_ratio{v}"] and s[f"min_ratio{v}"]:
        out.append(f"               per-run ratio {fmt(s[f'paired_ratio{v}'], 'x', 1)}; "
                   f"ratio of minimums {s[f'min_ratio{v}']:.1f}")
    out.append(f"               banner gap #{ask}..#{nxt} (answer included) {fmt(s[f'tool{v}_banner_gap_ms'])}")
    return out


def delete_section(ok, out, js):
    dele = [r for r in ok if r["part"] == "delete"]
    if not dele:
        return
    out.append("== recursive deletion: the tool against reg.exe, same prefix, same run ==")
    js["delete"] = {}
    for shape in SHAPES:
        rs = [r for r in dele if r["case"] == shape]
        if not rs:
            continue
        s = js["delete"][shape] = {k: stats([r.get(k) for r in rs]) for k in DELETE_KEYS}
        s["keys"] = rs[0]["keys"]
        out.append(f"{shape} ({s['keys']} keys per tree):")
        for v in VIEWS:
            # Tool and reg.exe of one run shared the prefix and the moment:
            # the ratio per run, and the ratio of the fastest runs, suffer
            # less from a busy machine than the ratio of medians.
            s[f"paired_ratio{v}"] = stats([r[f"tool{v}_ms"] / r[f"reg{v}_ms"] for r in rs
                                           if r.get(f"reg{v}_ms") and r.get(f"tool{v}_ms") is not None])
            out += delete_view_lines(s, v)
    ctl = js["delete"].get("single")
    if ctl:
        out.append("banner method (gap minus the single-key control's gap, medians):")
        for shape in ("wide", "chain"):
            s = js["delete"].get(shape)
            if not s:
                continue
            for v in VIEWS:
                g, c = s[f"tool{v}_banner_gap_ms"], ctl[f"tool{v}_banner_gap_ms"]
                if g and c:
                    est = s[f"banner_estimate{v}_ms"] = g["median"] - c["median"]
                    out.append(f"  {shape} {v}-bit: {g['median']:.0f} - {c['median']:.0f} = {est:.0f} ms")
    out.append("")


def requests_section(ok, out, js):
    req = {r["case"]: r for r in ok if r["part"] == "requests"}
    if "single" not in req or "wide" not in req:
        return
    out.append("== wineserver requests per deleted key (wide tree minus single key, +server trace) ==")
    # The tool deleted both views in one run; reg.exe one view per run.
    extra = req["wide"]["keys"] - req["single"]["keys"]
    per = {}
    for who in REQUEST_COLUMNS:
        a, b = req["wide"][f"{who}_requests"], req["single"][f"{who}_requests"]
        per[who] = {name: (a.get(name, 0) - b.get(name, 0)) / extra for name in set(a) | set(b)}
    js["requests_per_key"] = per
    names = sorted({k for p in per.values() for k, v in p.items() if abs(v) >= 0.05},
                   key=lambda k: -per["tool64"].get(k, 0))
    out.append(f"  {'request':22s}" + "".join(f" {c:>7s}" for c in REQUEST_COLUMNS))
    for k in names:
        out.append(f"  {k:22s}" + "".join(f" {per[c].get(k, 0):7.2f}" for c in REQUEST_COLUMNS))
    tot = js["requests_per_key_total"] = {w: sum(p.values()) for w, p in per.items()}
    out.append(f"  {'total':22s}" + "".join(f" {tot[c]:7.2f}" for c in REQUEST_COLUMNS))
    out.append("")
