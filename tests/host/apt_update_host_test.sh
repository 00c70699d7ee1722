#!/usr/bin/env bash
# The bootstrap's index update against a stand-in apt-get: a mirror in mid-sync is waited
# out, a lasting failure names its index, any other failure stops at once.
set -u
source_root=${1:?usage: apt_update_host_test.sh <source root>}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
fail() { echo "FAIL: $*"; exit 1; }
index=http://deb.example/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
# The stand-in's update fails the first $FAILS times with $ERROR; install --simulate
# succeeds only when $INSTALLABLE is 1.
mkdir "$work/bin"
cat > "$work/bin/apt-get" <<SH
#!/usr/bin/env bash
case "\$1" in
update)
    echo update >> "$work/calls"
    [ "\$(grep -c update "$work/calls")" -gt "\$FAILS" ] && exit 0
    printf '%s\n' "\$ERROR" 'E: Some index files failed to download. They have been ignored, or old ones used instead.'
    exit 100 ;;
install) [ "\$INSTALLABLE" = 1 ] ;;
esac
SH
chmod +x "$work/bin/apt-get"
mirror="E: Failed to fetch $index  File has unexpected size (374820 != 376004). Mirror sync in progress? [IP: 203.0.113.80 80]"
# fails installable error -> expected status, update calls, text the output must hold
cases=(
    "2|0|$mirror|0|3|"
    "9|0|$mirror|1|4|could not fetch $index (File has unexpected size (374820 != 376004). Mirror sync in progress?); the mirror is probably in mid-sync: run the command again later"
    "9|1|$mirror|0|1|everything needed can be installed without it"
    "9|0|E: Could not open lock file /var/lib/apt/lists/lock - open (13: Permission denied)|1|1|not a download"
)
for c in "${cases[@]}"; do
    IFS='|' read -r fails installable error status calls text <<<"$c"
    rm -f "$work/calls"
    out=$(PATH="$work/bin:$PATH" FAILS=$fails INSTALLABLE=$installable ERROR=$error TS_APT_PAUSES="0 0 0" SUDO= \
        bash -c ". '$source_root/tools/apt-update.sh' && ts_apt_update wine32:i386" 2>&1)
    got=$?
    [ "$got" = "$status" ] || fail "case '$c': status $got, output: $out"
    [ "$(grep -c update "$work/calls")" = "$calls" ] || fail "case '$c': $(grep -c update "$work/calls") updates, output: $out"
    [ -z "$text" ] || grep -qF -- "$text" <<<"$out" || fail "case '$c': no '$text' in: $out"
done
echo "index update: ok"
