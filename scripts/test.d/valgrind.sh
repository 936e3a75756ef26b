# Sourced by scripts/test after its main runs (uses $root, count_gtest, $passed and $failed):
# the native Release test programs once more under valgrind memcheck. Any invalid access, use
# of an uninitialised value or definitely/indirectly lost block fails the run, even when every
# test passed. Forked children end with _exit and never free what their parent's threads
# owned, so the fork tests run without the leak check (their leaks are LSan's in the ASan run).
valgrind_bin=${valgrind_bin:-$root/build/release/bin}
valgrind_dir="$root/build/valgrind"
valgrind_options=(--tool=memcheck --error-exitcode=1 --child-silent-after-fork=yes
    --errors-for-leak-kinds=definite,indirect --show-leak-kinds=definite,indirect)
echo "== valgrind memcheck"
ensure_packages valgrind
mkdir -p "$valgrind_dir"

# valgrind_run NAME LEAK-CHECK PROGRAM ARGS... : one program under memcheck.
valgrind_run() {
    local name=$1 leak_check=$2 log="$valgrind_dir/$1.log" before=$failed result
    shift 2
    echo "  $name"
    valgrind "${valgrind_options[@]}" --leak-check="$leak_check" "$@" >"$log" 2>&1
    result=$?
    count_gtest "$log"
    if [ $result -ne 0 ] && [ "$failed" -eq "$before" ]; then
        echo "  valgrind reported errors (see $log):"
        grep -aE '^==[0-9]+== .*(Invalid|uninitialised|lost in loss record|ERROR SUMMARY)' "$log" |
            head -5 | sed 's/^/    /'
        failed=$((failed + 1))
    fi
}

if [ -x "$valgrind_bin/integration_tests" ]; then
    valgrind_run integration_tests full "$valgrind_bin/integration_tests" --gtest_shuffle \
        '--gtest_filter=-*Fork*'
    valgrind_run integration_tests.fork no "$valgrind_bin/integration_tests" \
        '--gtest_filter=*Fork*'
    valgrind_run unit_tests full "$valgrind_bin/unit_tests" --gtest_shuffle
else
    echo "  no test programs in $valgrind_bin"
    failed=$((failed + 1))
fi
