# The end-to-end scripts' checks: one line per check ("ok" or "FAIL" with what was expected and
# what came), counted in passed and failed for the script's summary.
# shellcheck shell=bash

passed=0
failed=0

check() { # name expected actual
    if [[ $2 == "$3" ]]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        echo "     expected: $2"
        echo "     actual:   $3"
    fi
}

check_match() { # name regex actual
    if [[ $3 =~ $2 ]]; then
        passed=$((passed + 1))
        echo "ok   $1"
    else
        failed=$((failed + 1))
        echo "FAIL $1"
        echo "     expected to match: $2"
        echo "     actual:            $3"
    fi
}
