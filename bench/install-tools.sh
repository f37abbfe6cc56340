#!/bin/sh
# What `make bench` needs: the peers du, ncdu and gdu, hyperfine, strace, GNU time and Google
# Benchmark, besides the build tools.
exec sh "$(dirname "$0")/../tools/install-deps.sh" bench cmake g++ make python3 coreutils ncdu gdu hyperfine strace time libbenchmark-dev
