#!/usr/bin/env bash
# check_install.sh tree|deb BUILD_DIR
#   tree: `cmake --install` into a scratch prefix puts exactly the expected
#         files in place, and the desktop file, metainfo and icons pass the
#         validators a distribution runs and agree with each other.
#   deb:  `cpack -G DEB` builds a package with that file list whose Depends
#         are all satisfied by the packages installed here.
set -euo pipefail
mode=$1
build=$2
id=org.example.brindlewick
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
status=0
fail() {
    echo "FAIL: $*" >&2
    status=1
}

icon_sizes="16 24 32 48 64 128 256"

expected_files() {
    cat <<LIST
bin/brindlewick
share/applications/$id.desktop
share/doc/brindlewick/README.md
share/doc/brindlewick/examples/brwk_upload.php
share/icons/hicolor/scalable/apps/$id.svg
share/metainfo/$id.metainfo.xml
LIST
    for s in $icon_sizes; do echo "share/icons/hicolor/${s}x${s}/apps/$id.png"; done
}

# Width and height from a PNG's header.
png_size() {
    od -An -tu1 -j16 -N8 "$1" | awk '{ printf "%dx%d", $3 * 256 + $4, $7 * 256 + $8 }'
}

check_tree() {
    local prefix=$work/usr
    cmake --install "$build" --prefix "$prefix" >"$work/install.log"
    diff <(expected_files | sort) <(cd "$prefix" && find . -type f | sed 's|^\./||' | sort) ||
        fail "installed files differ from the list above (< expected, > installed)"
    [ -x "$prefix/bin/brindlewick" ] || fail "bin/brindlewick is not executable"
    for s in $icon_sizes; do
        local got
        got=$(png_size "$prefix/share/icons/hicolor/${s}x${s}/apps/$id.png")
        [ "$got" = "${s}x${s}" ] || fail "the ${s}x${s} icon is $got"
    done

    local desktop=$prefix/share/applications/$id.desktop
    local out
    out=$(desktop-file-validate "$desktop" 2>&1) || fail "desktop-file-validate failed"
    [ -z "$out" ] || fail "desktop-file-validate: $out"
    grep -qx "Exec=brindlewick" "$desktop" || fail "the menu entry does not start bin/brindlewick"
    grep -qx "Icon=$id" "$desktop" || fail "the menu entry does not name the installed icon"
    # Qt names the window class after the program file: the taskbar matches
    # the running window to its menu entry by it.
    grep -qx "StartupWMClass=brindlewick" "$desktop" || fail "StartupWMClass is not the program's"
    appstreamcli validate --no-net --pedantic "$prefix/share/metainfo/$id.metainfo.xml" ||
        fail "appstreamcli validate"
    # The software centre's view: metainfo, desktop file and icons together.
    appstreamcli validate-tree --no-net "$prefix/.." >"$work/tree.log" 2>&1 ||
        { cat "$work/tree.log"; fail "appstreamcli validate-tree"; }
}

# Whether an installed package satisfies one Depends entry, "name (op version)".
satisfied() {
    local name=${1%% *} relation version
    version=$(dpkg-query -W -f='${Version}' "$name" 2>/dev/null) || return 1
    [[ $1 == *"("* ]] || return 0
    relation=$(sed -E 's/.*\(([<>=]+) *([^)]*)\).*/\1 \2/' <<<"$1")
    local op=${relation%% *} want=${relation#* }
    case $op in
    ">=") op=ge ;; "<=") op=le ;; "=") op=eq ;; ">>") op=gt ;; "<<") op=lt ;;
    esac
    dpkg --compare-versions "$version" "$op" "$want"
}

check_deb() {
    (cd "$work" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$work/out" >cpack.log) ||
        { cat "$work/cpack.log"; fail "cpack"; return; }
    local deb
    deb=$(find "$work/out" -maxdepth 1 -name '*.deb')
    [ "$(wc -l <<<"$deb")" = 1 ] && [ -n "$deb" ] || { fail "no single .deb: $deb"; return; }
    [ "$(dpkg-deb -f "$deb" Package)" = brindlewick ] || fail "package name"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$(dpkg --print-architecture)" ] ||
        fail "architecture"
    diff <(expected_files | sed 's|^|./usr/|' | sort) \
        <(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sort) ||
        fail "the package's files differ (< expected, > packaged)"

    dpkg-deb -x "$deb" "$work/root"
    if readelf -S "$work/root/usr/bin/brindlewick" | grep -q '\.debug_info'; then
        fail "the packaged program is not stripped"
    fi

    local depends
    depends=$(dpkg-deb -f "$deb" Depends)
    echo "Depends: $depends"
    local names
    names=$(tr ',|' '\n\n' <<<"$depends" | sed -E 's/^ +//; s/ .*//')
    for lib in libc6 libstdc++6 libqt6core6 libqt6gui6 libqt6widgets6 libjpeg62-turbo; do
        grep -qxF "$lib" <<<"$names" || fail "Depends lacks $lib"
    done
    # Nothing of the build machine's tools or sanitizers.
    if grep -E '^(libasan|libubsan|libgtest|libbenchmark)' <<<"$names"; then
        fail "Depends names a build-only library"
    fi
    local entry
    while IFS= read -r entry; do
        # An alternative is satisfied by any of its packages.
        local ok=1 alt
        IFS='|' read -ra alts <<<"$entry"
        for alt in "${alts[@]}"; do
            alt=$(sed -E 's/^ +| +$//g' <<<"$alt")
            if satisfied "$alt"; then ok=0; fi
        done
        [ $ok = 0 ] || fail "Depends entry not satisfied here: $entry"
    done < <(tr ',' '\n' <<<"$depends" | sed -E 's/^ +//')
}

case $mode in
tree) check_tree ;;
deb) check_deb ;;
*) echo "usage: $0 tree|deb BUILD_DIR" >&2; exit 2 ;;
esac
exit $status
