#!/usr/bin/env bash
# Packs this build as the Debian package, unpacks it with dpkg-deb and checks
# what a user gets: the binary runs, the manual page renders cleanly and
# covers every command and option key, the examples are there, the
# dependencies name the libraries' runtime packages, lintian finds no error.
# Arguments: build folder, source folder, scratch folder.
set -uo pipefail
build=$1 source=$2 scratch=$3
failures=0
fail() { echo "FAIL: $*"; failures=$((failures + 1)); }

rm -rf "$scratch"
mkdir -p "$scratch/run"
if ! (cd "$scratch" && cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch/out" >cpack.log 2>&1); then
  cat "$scratch/cpack.log"
  echo "FAIL: cpack"
  exit 1
fi
debs=("$scratch"/out/*.deb)
[ ${#debs[@]} -eq 1 ] || { echo "FAIL: expected one package, got: ${debs[*]}"; exit 1; }
deb=${debs[0]}
version=$(dpkg-deb -f "$deb" Version)
arch=$(dpkg --print-architecture)
[ "$(basename "$deb")" = "yelm_${version}_${arch}.deb" ] || fail "package file name $(basename "$deb")"

# Exactly the program, its page and its documents: no tests, tools, benchmarks.
dpkg-deb -c "$deb" | awk '$1 !~ /^d/ {print $6}' | sort >"$scratch/files"
cat >"$scratch/expected" <<'EOF'
./usr/bin/yelm
./usr/share/doc/yelm/changelog.gz
./usr/share/doc/yelm/copyright
./usr/share/doc/yelm/examples/README
./usr/share/doc/yelm/examples/field
./usr/share/doc/yelm/examples/yelmrc.example
./usr/share/man/man1/yelm.1.gz
EOF
diff -u "$scratch/expected" "$scratch/files" || fail "package contents"

root=$scratch/root
dpkg-deb -x "$deb" "$root" || { echo "FAIL: dpkg-deb -x"; exit 1; }
examples=$root/usr/share/doc/yelm/examples
cmp -s "$examples/yelmrc.example" "$source/examples/.yelmrc" || fail "yelmrc.example differs from examples/.yelmrc"
cmp -s "$examples/field" "$source/examples/field" || fail "field differs from examples/field"

# The unpacked binary, without a display, in a folder with no settings file.
yelm=$root/usr/bin/yelm
run() { (cd "$scratch/run" && env -u DISPLAY timeout 30 "$yelm" "$@" 2>&1); }
version_out=$(run --version </dev/null)
version_status=$?
run --no-such-option </dev/null >"$scratch/bad-option.out"
bad_status=$?
grep -q '^yelm v1\.9-jan-2010' <<<"$version_out" || fail "no version line from --version: $version_out"
if [ $bad_status -eq 2 ]; then
  # The binary reads its command line: --version answers and exits.
  [ $version_status -eq 0 ] || fail "--version exit status $version_status"
  grep -q 'yelm--scope\$' <<<"$version_out" && fail "--version started the console"
  [ "$(wc -l < "$scratch/bad-option.out")" -eq 1 ] || fail "unknown option: not one line: $(cat "$scratch/bad-option.out")"
else
  # A binary that ignores its arguments: banner, then the console meets the
  # end of its input.
  echo "note: command-line options not handled by this binary (status $bad_status); checked the banner"
  [ $version_status -eq 1 ] || fail "console at end of input: status $version_status"
fi

# The manual page: no warnings from groff or man, every command of the table
# (as the binary's own help lists them) and every key of KNOWN described.
page=$root/usr/share/man/man1/yelm.1.gz
zcat "$page" | groff -ww -man -Tutf8 >/dev/null 2>"$scratch/groff.err"
[ -s "$scratch/groff.err" ] && fail "groff warnings: $(cat "$scratch/groff.err")"
MANWIDTH=80 man --warnings -l "$page" >"$scratch/page.txt" 2>"$scratch/man.err" || fail "man -l failed"
[ -s "$scratch/man.err" ] && fail "man warnings: $(cat "$scratch/man.err")"
for section in NAME SYNOPSIS DESCRIPTION COMMANDS SETTINGS FILES ENVIRONMENT EXAMPLES "EXIT STATUS"; do
  grep -qx "$section" "$scratch/page.txt" || fail "section $section missing"
done
for option in --help --version; do
  sed -n '/^SYNOPSIS$/,/^DESCRIPTION$/p' "$scratch/page.txt" | grep -q -- "yelm $option" || fail "SYNOPSIS lacks $option"
done
commands=$(printf 'help\nexit\n' | run | sed -n 's/^ *\([a-z]\+\)  - .*/\1/p')
[ "$(wc -w <<<"$commands")" -ge 14 ] || fail "help listed too few commands: $commands"
sed -n '/^COMMANDS$/,/^SETTINGS$/p' "$scratch/page.txt" | grep -o '^       [a-z]\+' | tr -d ' ' | sort -u >"$scratch/page-commands"
for c in $commands; do
  grep -qx "$c" "$scratch/page-commands" || fail "command $c not in COMMANDS"
done
# Key column of the settings table: "key[, key]" then two blanks or more.
sed -n '/^       key  *default/,/^FILES$/p' "$scratch/page.txt" |
  sed -n 's/^       \([a-zA-Z.]\+\(, [a-zA-Z.]\+\)*\)  .*/\1/p' | tr -d ' ' | tr ',' '\n' | sort -u >"$scratch/page-keys"
known=$(sed -n 's/^KNOWN //p' "$source/examples/.yelmrc")
[ -n "$known" ] || fail "no KNOWN line in examples/.yelmrc"
for item in $known; do
  key=${item#+}
  key=${key%%=*}
  case $key in
    VERSION | KNOWN) grep -q "$key" "$scratch/page.txt" || fail "$key not described" ;;
    *) grep -qx -- "$key" "$scratch/page-keys" || fail "key $key not in the settings table" ;;
  esac
done

# Dependencies come from the libraries the binary links.
depends=$(dpkg-deb -f "$deb" Depends)
names=$(tr ',|' '\n\n' <<<"$depends" | sed 's/(.*//; s/ //g')
for pattern in 'libportaudio[0-9]+' 'libfftw3-double3' 'libglut[0-9.]+|freeglut3' 'libglu1(-mesa)?' \
  'libreadline[0-9]+' 'libresample1' 'libsndfile1'; do
  grep -qxE "$pattern" <<<"$names" || fail "Depends has no $pattern: $depends"
done

lintian --tag-display-limit 0 "$deb" >"$scratch/lintian.out" 2>&1
lintian_status=$?
cat "$scratch/lintian.out"
grep -q '^E:' "$scratch/lintian.out" && fail "lintian errors"
[ $lintian_status -eq 0 ] || fail "lintian status $lintian_status"

[ $failures -eq 0 ] && echo "package ok: $(basename "$deb")"
exit $((failures > 0))
