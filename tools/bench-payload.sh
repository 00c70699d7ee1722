#!/usr/bin/env bash
# bench-payload.sh <folder>: a payload of about 200 MB for the benchmarks (already
# compressed data, Windows executables, text), made afresh in <folder>.
set -euo pipefail
payload=$1
    rm -rf "$payload" && mkdir -p "$payload/media" "$payload/bin" "$payload/text"
    # Already compressed: 70 MB of random data in files of 1 to 8 MB.
    for i in $(seq 1 14); do head -c $(( (i % 8 + 1) * 1000000 )) /dev/urandom >"$payload/media/clip$i.jpg"; done
    head -c $((70000000 - $(du -cb "$payload"/media/* | tail -1 | cut -f1))) /dev/urandom >"$payload/media/rest.zip"
    # Executables: Wine's PE libraries, about 70 MB.
    total=0
    for f in /usr/lib/i386-linux-gnu/wine/i386-windows/*.dll; do
        [ $total -gt 70000000 ] && break
        cp "$f" "$payload/bin/"
        total=$((total + $(stat -c %s "$f")))
    done
    # Text: 60 MB of log and table lines.
    python3 - "$payload/text" <<'EOF'
import random, sys
random.seed(7)
words = "device display driver install setup registry version monitor adapter path mode target source".split()
for n in range(6):
    with open("%s/log%d.txt" % (sys.argv[1], n), "w") as out:
        size = 0
        while size < 10_000_000:
            line = "%05d %s %s=%d %s\n" % (random.randrange(100000), random.choice(words), random.choice(words),
                                          random.randrange(1 << 20), " ".join(random.sample(words, 5)))
            out.write(line)
            size += len(line)
EOF
