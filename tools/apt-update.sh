# Sourced by the bootstrap: apt-get update that rides out a mirror in mid-sync.
#
#   ts_apt_update [apt-get install arguments...]
#
# A failed index download ("File has unexpected size ... Mirror sync in progress?", a
# hash mismatch, a connection that drops) is tried again after each pause of
# TS_APT_PAUSES (seconds). It goes on as soon as everything named can be installed from
# the indexes there are. Any other failure (no root, a release the mirror does not have)
# stops at once. On failure prints one line and returns 1. Uses $SUDO when set.

ts_apt_update() {
    local pauses=(${TS_APT_PAUSES:-15 30 60 90}) out attempt=0 fetch index reason
    out=$(mktemp)
    while :; do
        if ${SUDO:-} apt-get update -qq >"$out" 2>&1 && ! grep -q '^E:' "$out"; then
            rm -f "$out"
            return 0
        fi
        # Only failed downloads are worth waiting out; every other error line is final.
        if ! grep -q '^E: Failed to fetch ' "$out" ||
            grep '^E:' "$out" | grep -qv -e '^E: Failed to fetch ' -e '^E: Some index files failed to download'; then
            tail -n 20 "$out" >&2
            rm -f "$out"
            echo "bootstrap: apt-get update failed (not a download: see above)" >&2
            return 1
        fi
        fetch=$(grep -m 1 '^E: Failed to fetch ' "$out")
        fetch=${fetch#E: Failed to fetch }
        index=${fetch%%  *}
        reason=${fetch#"$index"}
        reason=${reason#  }
        reason=${reason%% \[IP:*}
        if [ $# -gt 0 ] && ${SUDO:-} apt-get install --simulate -qq --no-install-recommends "$@" >/dev/null 2>&1; then
            echo "bootstrap: the index $index could not be updated ($reason); everything needed can be installed without it, going on"
            rm -f "$out"
            return 0
        fi
        if [ $attempt -ge ${#pauses[@]} ]; then
            rm -f "$out"
            echo "bootstrap: apt-get update could not fetch $index ($reason); the mirror is probably in mid-sync: run the command again later" >&2
            return 1
        fi
        echo "bootstrap: the index $index could not be updated ($reason); trying again in ${pauses[$attempt]} s"
        sleep "${pauses[$attempt]}"
        attempt=$((attempt + 1))
    done
}
