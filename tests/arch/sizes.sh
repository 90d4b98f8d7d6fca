#!/bin/bash
# Reports the files in src/ over 500 lines and the functions over 50 lines, the
# limits the house keeps. A function is counted from the first line of its
# signature to its closing brace; lambdas count with the function that holds
# them. Exits 1 when something is over a limit, 0 when nothing is.
# usage: sizes.sh [SOURCE_ROOT]   (default: two folders up from this script)
set -euo pipefail
root=${1:-$(cd "$(dirname "$0")/../.." && pwd)}
cd "$root"
file_limit=500
function_limit=50

mapfile -t files < <(find src -type f \( -name '*.h' -o -name '*.cpp' \) | sort)

echo "files in src/ over $file_limit lines:"
long_files=$(wc -l "${files[@]}" | awk -v limit="$file_limit" \
    '$2 != "total" && $1 > limit { printf "  %5d  %s\n", $1, $2 }' | sort -rn)
echo "${long_files:-  none}"

echo "functions in src/ over $function_limit lines (signature to closing brace):"
long_functions=$(awk -v limit="$function_limit" -v q="'" '
# Blanks comments, string and character literals (raw strings too) out of one
# line, keeping block comments and raw strings open across lines.
function code_of(line,    out, i, n, c, d, rest, at) {
    out = ""; n = length(line); i = 1
    while (i <= n) {
        c = substr(line, i, 1); d = substr(line, i, 2)
        if (inBlock) {
            if (d == "*/") { inBlock = 0; i += 2 } else i++
            out = out " "; continue
        }
        if (rawEnd != "") {
            rest = substr(line, i); at = index(rest, rawEnd)
            if (at == 0) return out
            i += at + length(rawEnd) - 1; rawEnd = ""; out = out "\"\""; continue
        }
        if (d == "//") return out
        if (d == "/*") { inBlock = 1; i += 2; out = out " "; continue }
        if (d == "R\"" && (i == 1 || substr(line, i - 1, 1) !~ /[A-Za-z0-9_]/)) {
            rest = substr(line, i + 2); at = index(rest, "(")
            rawEnd = ")" substr(rest, 1, at - 1) "\""; i += 2 + at; continue
        }
        if (c == "\"" || (c == q && (i == 1 || substr(line, i - 1, 1) !~ /[0-9A-Fa-f]/))) {
            i++
            while (i <= n && substr(line, i, 1) != c) i += (substr(line, i, 1) == "\\") ? 2 : 1
            i++; out = out c c; continue
        }
        out = out c; i++
    }
    return out
}
function name_of(head,    p, n, words) {
    p = index(head, "(")
    if (p > 0) head = substr(head, 1, p - 1)
    sub(/[ \t]+$/, "", head)
    if (head ~ /\]$/) return "(lambda)"
    n = split(head, words, /[ \t*&]+/)
    return words[n]
}
BEGIN {
    # A function head ends in its parameters, then qualifiers or a trailing return type.
    signatureEnd = "\\)[ \t]*((const|noexcept|override|final|mutable|&|&&)[ \t]*)*(->[^;{]*)?$"
    scopeWord = "(^|[^A-Za-z0-9_])(struct|class|union|enum|namespace)([^A-Za-z0-9_]|$)"
    accessLabel = "(^|[^A-Za-z0-9_:])(public|protected|private|signals|slots)[ \t]*:$"
}
FNR == 1 { depth = inFunction = paren = inBlock = continued = 0; head = rawEnd = "" }
{
    if (continued || (!inBlock && rawEnd == "" && $0 ~ /^[ \t]*#/)) {
        continued = ($0 ~ /\\$/); next
    }
    code = code_of($0)
    for (i = 1; i <= length(code); i++) {
        c = substr(code, i, 1)
        if (!inFunction && paren > 0) {      # a default argument {} or a lambda in an initialiser
            head = head c; paren += (c == "(") - (c == ")"); continue
        }
        if (c == "{") {
            depth++
            if (!inFunction && head ~ signatureEnd) {
                inFunction = depth; start = headLine; fname = name_of(head)
            }
            if (!inFunction && head ~ /[A-Za-z0-9_>]$/ && head !~ scopeWord) {
                initDepth[depth] = 1          # a brace initialiser: the head goes on
            } else {
                head = ""
            }
        } else if (c == "}") {
            if (inFunction == depth) {
                lines = FNR - start + 1
                if (lines > limit) printf "  %5d  %s:%d  %s\n", lines, FILENAME, start, fname
                inFunction = 0
            }
            if (initDepth[depth]) { initDepth[depth] = 0; head = head "{}" } else head = ""
            depth--
        } else if (c == ";") {
            head = ""
        } else if (!inFunction) {
            if (head == "" && c ~ /[ \t]/) continue
            if (head == "") headLine = FNR
            head = head c; paren += (c == "(")
            if (c == ":" && head ~ accessLabel)
                head = ""                     # an access label, after Q_OBJECT or alone
        }
    }
    if (!inFunction && head != "") head = head " "
}
' "${files[@]}" | sort -rn)
echo "${long_functions:-  none}"
[ -z "$long_files" ] && [ -z "$long_functions" ]
