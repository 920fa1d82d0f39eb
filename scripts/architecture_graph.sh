#!/usr/bin/env bash
# Draws docs/architecture.svg from the build's real dependencies (CMake's
# --graphviz): the product's libraries and the two programs, without tests,
# benchmarks, test doubles or third-party libraries. Needs graphviz.
#   bash scripts/architecture_graph.sh [build-dir]
set -euo pipefail
top=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$top/build}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cat > "$work/CMakeGraphVizOptions.cmake" <<'OPTIONS'
set(GRAPHVIZ_GRAPH_NAME "docklane")
set(GRAPHVIZ_EXTERNAL_LIBS OFF)
set(GRAPHVIZ_GENERATE_PER_TARGET OFF)
set(GRAPHVIZ_GENERATE_DEPENDERS OFF)
set(GRAPHVIZ_IGNORE_TARGETS "_tests$" "^bench_" "_fake$" "_recording$" "harness" "silent_owner" "^fuzz_"
    "dl_uno_headers" "dl_arrows")
OPTIONS
cp "$work/CMakeGraphVizOptions.cmake" "$build/CMakeGraphVizOptions.cmake"
cmake -S "$top" -B "$build" --graphviz="$work/deps.dot" > /dev/null
rm -f "$build/CMakeGraphVizOptions.cmake"
# Short labels: dl_platform_clipboard -> platform/clipboard.
sed -E -e 's/label = "dl_platform_([a-z0-9_]+)"/label = "platform\/\1"/' \
       -e 's/label = "dl_([a-z]+)"/label = "\1\/"/' \
       "$work/deps.dot" > "$work/labelled.dot"
# CMake's legend of node shapes says nothing about this tree.
awk '/subgraph clusterLegend/ { skip = 1; depth = 0 }
     skip { n = gsub(/\{/, "{"); m = gsub(/\}/, "}"); depth += n - m; if (depth <= 0 && m > 0) skip = 0; next }
     { print }' "$work/labelled.dot" > "$work/short.dot"
dot -Tsvg -Gfontname=sans -Nfontname=sans "$work/short.dot" > "$top/docs/architecture.svg"
dot -Tpng -Gdpi=72 -Gfontname=sans -Nfontname=sans "$work/short.dot" > "$top/docs/architecture.png"
echo "wrote docs/architecture.svg and docs/architecture.png"
