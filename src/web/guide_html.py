"""The Guide as HTML for the page: the Markdown of the given files, in
order, turned into one fragment (headings, paragraphs, lists, tables, code
blocks, inline code, bold and links: what the guide uses).

The guide serves both programs: lines between `<!-- desktop -->` and
`<!-- /desktop -->` are the desktop program's alone and left out here;
those between `<!-- page -->` and `<!-- /page -->` are the page's."""
import html
import re
import sys


def inline(text):
    parts = re.split(r"(`[^`]*`)", text)
    out = []
    for part in parts:
        if part.startswith("`") and part.endswith("`") and len(part) > 1:
            out.append("<code>" + html.escape(part[1:-1]) + "</code>")
            continue
        part = html.escape(part, quote=False)
        part = re.sub(r"\*\*(.+?)\*\*", r"<strong>\1</strong>", part)
        part = re.sub(r"\[([^\]]+)\]\(([^)]+)\)", r'<a href="\2">\1</a>', part)
        out.append(part)
    return "".join(out)


def convert(lines):
    out = []
    paragraph = []
    list_tag = None
    i = 0

    def flush():
        nonlocal list_tag
        if paragraph:
            out.append("<p>" + inline(" ".join(paragraph)) + "</p>")
            paragraph.clear()
        if list_tag:
            out.append("</li></%s>" % list_tag)
            list_tag = None

    while i < len(lines):
        line = lines[i].rstrip("\n")
        if line.startswith("```"):
            flush()
            code = []
            i += 1
            while i < len(lines) and not lines[i].startswith("```"):
                code.append(lines[i].rstrip("\n"))
                i += 1
            out.append("<pre><code>" + html.escape("\n".join(code)) + "</code></pre>")
        elif m := re.match(r"(#{1,6}) (.*)", line):
            flush()
            level = len(m.group(1))
            out.append("<h%d>%s</h%d>" % (level, inline(m.group(2)), level))
        elif line.startswith("|"):
            flush()
            rows = []
            while i < len(lines) and lines[i].startswith("|"):
                rows.append([c.strip() for c in lines[i].strip().strip("|").split("|")])
                i += 1
            i -= 1
            out.append("<table><tr>" + "".join("<th>%s</th>" % inline(c) for c in rows[0]) + "</tr>")
            for row in rows[2:]:
                out.append("<tr>" + "".join("<td>%s</td>" % inline(c) for c in row) + "</tr>")
            out.append("</table>")
        elif m := re.match(r"(-|\d+\.) (.*)", line):
            if paragraph:
                flush()
            tag = "ul" if m.group(1) == "-" else "ol"
            if list_tag != tag:
                flush()
                out.append("<%s><li>" % tag)
                list_tag = tag
            else:
                out.append("</li><li>")
            out.append(inline(m.group(2)))
        elif not line.strip():
            flush()
        elif list_tag:
            out.append(" " + inline(line.strip()))
        else:
            paragraph.append(line.strip())
        i += 1
    flush()
    return "\n".join(out)


def for_audience(lines, audience):
    """The lines meant for `audience` ("page" or "desktop"), without the
    markers."""
    kept = []
    within = None
    for line in lines:
        marker = re.fullmatch(r"<!-- (/?)(desktop|page) -->", line.strip())
        if marker:
            within = None if marker.group(1) else marker.group(2)
            continue
        if within is None or within == audience:
            kept.append(line)
    return kept


def main():
    lines = []
    for name in sys.argv[1:]:
        with open(name, encoding="utf-8") as f:
            lines.extend(f.readlines())
        lines.append("\n")
    sys.stdout.write(convert(for_audience(lines, "page")) + "\n")


if __name__ == "__main__":
    main()
