#!/usr/bin/env bash
# The install rules and the manual page, checked against the built program and the sources.
#
#   check_install.sh layout CMAKE BUILD_DIR SOURCE_DIR VERSION
#       `cmake --install` into a fresh prefix: the program alone in bin/, no other executable
#       anywhere (test helpers included), the page, the documents and the desktop entry (naming
#       the installed program) where they belong, nothing outside bin/ and share/, and the
#       installed copy runs without the build tree.
#   check_install.sh manual CMAKE BUILD_DIR SOURCE_DIR VERSION
#       The page renders without a groff warning, carries the project's version, has an entry
#       for every command word of the dispatch table and every variable the code reads with
#       getenv, and states what the built program prints without a desktop.
# Exit 77 (skipped) when a tool the check needs is missing.
set -uo pipefail

mode=$1 cmake=$2 build=$(cd "$3" && pwd) source=$(cd "$4" && pwd) version=$5
page=$source/man/focusprobe.1
binary=$build/src/focusprobe
failed=0
fail() { failed=1; echo "FAIL $*"; }
scratch=$(mktemp -d /tmp/focusprobe-install-test.XXXXXX)
trap 'rm -rf "$scratch"' EXIT

layout() {
    local prefix=$scratch/prefix
    "$cmake" --install "$build" --prefix "$prefix" >"$scratch/install.log" 2>&1 \
        || { cat "$scratch/install.log"; fail "cmake --install failed"; return; }

    local path
    for path in bin/focusprobe share/man/man1/focusprobe.1 share/doc/focusprobe/README.md \
        share/doc/focusprobe/linux.md share/doc/focusprobe/macos.md share/doc/focusprobe/copyright; do
        [[ -f $prefix/$path ]] || fail "$path is not installed"
    done
    cmp -s "$page" "$prefix/share/man/man1/focusprobe.1" || fail "the installed page differs from man/focusprobe.1"

    # KWin grants its interfaces to the program whose absolute path the entry names, exactly.
    local entry=$prefix/share/applications/focusprobe.desktop
    if [[ -f $entry ]]; then
        local line
        for line in "Exec=$prefix/bin/focusprobe" "NoDisplay=true" \
            "X-KDE-Wayland-Interfaces=org_kde_kwin_fake_input,org_kde_plasma_window_management"; do
            grep -qxF "$line" "$entry" || fail "the desktop entry has no line $line: $(tr '\n' ' ' <"$entry")"
        done
        (($(grep -c '^Exec=' "$entry") == 1)) || fail "the desktop entry has more than one Exec= line"
    else
        fail "share/applications/focusprobe.desktop is not installed"
    fi

    # Everything else is data: no second program, no library, nothing outside bin/ and share/.
    while IFS= read -r path; do
        path=${path#"$prefix"/}
        case $path in
            bin/focusprobe) continue ;;
            bin/* | sbin/* | libexec/*) fail "$path is installed: bin/ holds focusprobe alone" ;;
            share/*) ;;
            *) fail "$path is installed outside bin/ and share/" ;;
        esac
        if [[ -x $prefix/$path ]] || [[ $(head -c 4 "$prefix/$path" | od -An -c | tr -d ' ') == '177ELF' ]]; then
            fail "$path is an executable or an object file"
        fi
    done < <(find "$prefix" \( -type f -o -type l \) | sort)

    # The installed copy needs nothing from the build or the source tree.
    if command -v ldd >/dev/null 2>&1; then
        ldd "$prefix/bin/focusprobe" >"$scratch/ldd" 2>&1
        if grep -q 'not found' "$scratch/ldd" || grep -qF -e "$build" -e "$source" "$scratch/ldd"; then
            fail "the installed program loads libraries that are not the system's: $(tr '\n' ' ' <"$scratch/ldd")"
        fi
    fi
    local out
    out=$(env -i "$prefix/bin/focusprobe" paste-keycode </dev/null 2>"$scratch/err")
    [[ $? == 0 && $out == 9 && ! -s $scratch/err ]] || fail "the installed program answers paste-keycode with '$out'"
}

# The page as text: no adjustment, no hyphenation, lines long enough never to break a phrase.
rendered() {
    groff -man -Tascii -P-cbou -rLL=400n -rHY=0 "$page" 2>/dev/null
}

# The lines of one section of the rendered page: an .SH heading starts at the margin, an .SS
# heading three spaces in.
section_lines() { # heading
    rendered | awk -v heading="$1" '
        /^[^ ]/ || /^   [^ ]/ { title = $0; sub(/^ +/, "", title); inside = (title == heading); next }
        inside'
}

# The same, joined into one line with single spaces.
section() { # heading
    section_lines "$1" | tr '\n' ' ' | sed 's/[[:space:]]\+/ /g'
}

manual() {
    command -v groff >/dev/null 2>&1 || { echo "SKIPPED: groff is not installed"; exit 77; }
    groff -ww -man -Tutf8 -z "$page" >"$scratch/warnings" 2>&1
    [[ -s $scratch/warnings ]] && fail "groff warns: $(head -n 5 "$scratch/warnings")"

    local th
    th=$(grep -m1 '^\.TH ' "$page")
    [[ $th == *"\"focusprobe $version\""* ]] || fail "the page's .TH line names another version than $version: $th"

    # Every command word of the dispatch table has its entry (a tag at the margin of the
    # paragraphs) under COMMANDS.
    local word
    section_lines COMMANDS >"$scratch/commands"
    mapfile -t words < <(grep -o 'Command{"[^"]*"' "$source/src/app/dispatch.cpp" | cut -d'"' -f2)
    ((${#words[@]} >= 7)) || fail "found only ${#words[@]} command words in src/app/dispatch.cpp"
    for word in "${words[@]}"; do
        grep -qE "^ {7}$word( |\$)" "$scratch/commands" || fail "COMMANDS has no entry for the command $word"
    done

    # Every variable the code reads is listed under ENVIRONMENT.
    local environment name
    environment=$(section ENVIRONMENT)
    mapfile -t names < <(grep -rhoE 'getenv\("[A-Z_]+"\)' "$source/src" | cut -d'"' -f2 | sort -u)
    ((${#names[@]} > 0)) || fail "found no getenv in src"
    for name in "${names[@]}"; do
        [[ $environment == *" $name "* ]] || fail "ENVIRONMENT does not list $name"
    done

    # What the built program prints without a desktop is what the page says it prints. The long
    # lines stand as they are in the page; the short answers in the Headless list.
    local headless command out status expected
    headless=$(section Headless)
    local -a table=(
        "info|the line"
        "rescue|the line"
        "|(no command) prints"
        "frontmost|frontmost prints"
        "paste-keycode|paste-keycode prints"
        "paste|paste prints"
        "announce hello|announce prints"
        "modtap|modtap prints"
    )
    local row
    for row in "${table[@]}"; do
        command=${row%%|*} expected=${row#*|}
        read -ra argv <<<"$command"
        out=$(env -i "$binary" "${argv[@]}" </dev/null 2>"$scratch/err")
        status=$?
        [[ -s $scratch/err ]] && fail "headless $command wrote to standard error"
        if [[ $expected == "the line" ]]; then
            grep -qxF "$out" "$page" || fail "the page does not show the headless $command line: $out"
            continue
        fi
        [[ -z $out ]] && out=nothing
        if ((status == 0)); then
            [[ $headless == *" $expected $out;"* || $headless == *" $expected $out."* ]] \
                || fail "Headless does not say \"$expected $out\""
        else
            [[ $headless == *" $expected $out and exits with status $status"* ]] \
                || fail "Headless does not say \"$expected $out and exits with status $status\""
        fi
    done
}

case $mode in
    layout) layout ;;
    manual) manual ;;
    *) echo "usage: check_install.sh layout|manual CMAKE BUILD_DIR SOURCE_DIR VERSION" >&2; exit 2 ;;
esac
if ((failed)); then exit 1; fi
echo "passed"
