#!/bin/bash
# check_symbols.sh LIBRARY HEADER
# The shared library's outward face: its SONAME, the symbols it exports (exactly the header's
# ts_ functions, each in version node TONESHIFT_1.0), and the libraries it loads (utf8proc and
# the C++ runtime from the system, not built in).
set -euo pipefail
library=$1
header=$2
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

dynamic=$(readelf -d "$library")
soname=$(sed -n 's/.*Library soname: \[\(.*\)\]/\1/p' <<<"$dynamic")
[[ $soname == libtoneshift.so.1 ]] || fail "SONAME is '$soname', not libtoneshift.so.1"
grep -q 'TEXTREL' <<<"$dynamic" && fail "the library has text relocations"
for needed in 'libutf8proc\.so' 'libstdc\+\+\.so'; do
    grep -Eq "Shared library: \[$needed" <<<"$dynamic" || fail "the library does not load $needed"
done
# utf8proc built in (its static archive leaking in through the core) would define its
# functions here, besides loading nothing.
if nm --defined-only "$library" 2>/dev/null | grep -q ' utf8proc_'; then
    fail "utf8proc's functions are built into the library"
fi

# nm -D prints NAME@@VERSION for the default version of a versioned symbol, and the version
# node itself as an absolute symbol.
exported=$(nm -D --defined-only --with-symbol-versions "$library" | awk '{print $NF}')
declared=$(grep -oE '\bts_[a-z0-9_]+\(' "$header" | tr -d '(' | sort -u)
names=""
while read -r symbol; do
    [[ -z $symbol ]] && continue
    case $symbol in
        TONESHIFT_1.0 | TONESHIFT_1.0@@TONESHIFT_1.0) ;;
        ts_*@@TONESHIFT_1.0) names+="${symbol%@@*}"$'\n' ;;
        ts_*) fail "$symbol is exported without version TONESHIFT_1.0" ;;
        *) fail "$symbol is exported" ;;
    esac
done <<<"$exported"
names=$(sort -u <<<"${names%$'\n'}")
missing=$(comm -13 <(echo "$names") <(echo "$declared"))
extra=$(comm -23 <(echo "$names") <(echo "$declared"))
[[ -z $missing ]] || fail "declared in the header but not exported: ${missing//$'\n'/ }"
[[ -z $extra ]] || fail "exported but not declared in the header: ${extra//$'\n'/ }"
count=$(grep -c . <<<"$names" || true)
[[ $count -gt 0 ]] || fail "no ts_ function is exported"
[[ $status == 0 ]] && echo "libtoneshift: SONAME $soname, $count ts_ functions in TONESHIFT_1.0"
exit $status
