#!/usr/bin/env bash
# The program and its tools use none of the layers' testing:: seams; those
# are for the tests alone. Lists every use found and fails if there is one.
#   no_test_hooks_in_product.sh SOURCE_DIR
set -euo pipefail
cd "$1"
found=$(grep -rn --include='*.cpp' --include='*.h' 'testing::' app render ui volume slicing tools || true)
if [ -n "$found" ]; then
  echo "FAIL: the product uses test seams:"
  echo "$found"
  exit 1
fi
echo "PASS: no testing:: names outside the layers and the tests"
