#!/usr/bin/env bash
# bench-payload.sh <folder>: a payload of about 200 MB for the benchmarks (already
# compressed data, Windows executables, text), made afresh in <folder>, the same each
# time on the same machine (fixed seeds; the executables are the installed Wine's).
set -euo pipefail
payload=$1
    rm -rf "$payload" && mkdir -p "$payload/media" "$payload/bin" "$payload/text"
    # Already compressed: 70 MB of pseudo-random data (fixed seed) in files of 1 to 8 MB.
    python3 - "$payload/media" <<'EOF'
import random, sys
random.seed(16)
total = 0
for i in range(1, 15):
    size = (i % 8 + 1) * 1000000
    open("%s/clip%d.jpg" % (sys.argv[1], i), "wb").write(random.randbytes(size))
    total += size
open("%s/rest.zip" % sys.argv[1], "wb").write(random.randbytes(70000000 - total))
EOF
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
