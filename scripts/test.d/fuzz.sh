# Sourced by scripts/test: every fuzz target for a bounded time from its checked-in seeds
# (scripts/fuzz; about 25 s each). Each target that ran clean counts as one passed check.
echo "== fuzz (libFuzzer, ASan+UBSan)"
fuzz_seconds=${QUORIN_FUZZ_SECONDS:-25}
fuzz_log="$root/build/fuzz.summary.log"
"$root/scripts/fuzz" "$fuzz_seconds" >"$fuzz_log" 2>&1
sed 's/^/  /' "$fuzz_log" | grep -v '^  Building'
fuzz_ok=$(grep -c ': ok,' "$fuzz_log")
fuzz_failed=$(grep -cE 'FAILED|no such target|build failed' "$fuzz_log")
passed=$((passed + fuzz_ok))
failed=$((failed + fuzz_failed))
[ "$fuzz_ok" -eq 0 ] && [ "$fuzz_failed" -eq 0 ] && failed=$((failed + 1))
