# Sourced by scripts/test after its main runs (uses $root, $wine, count_gtest, $passed and
# $failed). Two load-path checks that a test program cannot set up for itself:
#  1. The LoadPathHardening tests again, now with working copies of the agent module under
#     every name the library might look for in the system's search path as well: the library
#     search path with the working directory in it (LD_LIBRARY_PATH) natively, and PATH and
#     the working directory under Wine.
#  2. POSIX: a set-user-id copy of a small program, run by an unprivileged user, ignores the
#     CV_* environment variables (the system marks such a process secure); the same program
#     run normally follows them.
hardening_native=${hardening_native:-$root/build/release}
hardening_windows=${hardening_windows:-$root/build/windows}
hardening_dir="$root/build/hardening"
echo "== hardening (load paths, set-user-id)"
rm -rf "$hardening_dir"
mkdir -p "$hardening_dir/plant" "$hardening_dir/plant-windows"
chmod 755 "$hardening_dir"

hardening_log="$hardening_dir/hardening.log"
hardening_check() { script_check "$hardening_log" "$@"; }

# --- 1. planted modules in the search path ---
plant="$hardening_dir/plant"
native_agent="$hardening_native/test_home/agent/lib64/libkestraneloader.so"
if [ -f "$native_agent" ]; then
    for name in libkestraneloader.so cv_agent_3bef2c2a0679493ea9440fba66a92b95.so \
        cv_agent_3bef2c2a0679493ea9440fba66a92b95; do
        cp "$native_agent" "$plant/$name"
    done
    # A FIFO under the process agent's name first in the search path: a lookup that opened
    # files would block on it for ever (the timeout turns that into a failure).
    fifo_dir="$hardening_dir/fifo"
    mkdir -p "$fifo_dir"
    mkfifo "$fifo_dir/cv_agent_3bef2c2a0679493ea9440fba66a92b95"
    # The empty entry after the colon puts the working directory into the search path too.
    (cd "$plant" && LD_LIBRARY_PATH="$fifo_dir:$plant:" PATH="$plant:$PATH" \
        QUORIN_TEST_PLANTED_SEARCH_PATH="$plant" timeout 300 \
        "$hardening_native/bin/integration_tests" \
        --gtest_filter='*LoadPathHardening*' >"$hardening_dir/native.log" 2>&1)
    echo "  integration_tests (LoadPathHardening, modules in LD_LIBRARY_PATH and PATH, a FIFO first)"
    count_gtest "$hardening_dir/native.log"
else
    echo "  no native build in $hardening_native"
    failed=$((failed + 1))
fi

windows_agent="$hardening_windows/test_home/agent/lib64/kestraneloader.dll"
if [ -f "$windows_agent" ]; then
    plant_windows="$hardening_dir/plant-windows"
    for name in kestraneloader.dll cv_agent_3bef2c2a0679493ea9440fba66a92b95.dll \
        cv_agent_3bef2c2a0679493ea9440fba66a92b95; do
        cp "$windows_agent" "$plant_windows/$name"
    done
    windows_plant="Z:$(echo "$plant_windows" | tr / '\\')"
    (cd "$plant_windows" && WINEPATH="$windows_plant" \
        QUORIN_TEST_PLANTED_SEARCH_PATH="$windows_plant" \
        "$wine" "$hardening_windows/bin/integration_tests.exe" \
        --gtest_filter='*LoadPathHardening*' >"$hardening_dir/windows.log" 2>&1)
    echo "  integration_tests.exe (LoadPathHardening, modules in PATH, under Wine)"
    count_gtest "$hardening_dir/windows.log"
fi

# --- 2. set-user-id ---
probe_build() {
    cp "$hardening_native/bin/libquorin.so" "$hardening_dir/" &&
        cc -std=c11 -Wall -Wextra -Werror -pedantic -I"$root/include" \
            "$root/tests/hardening/environment_probe.c" -L"$hardening_dir" -lquorin \
            -Wl,-rpath,"$hardening_dir" -o "$hardening_dir/environment_probe" &&
        chmod 755 "$hardening_dir/environment_probe" "$hardening_dir/libquorin.so"
}
# probe_run OUTPUT COMMAND... : the probe with CV_* settings that it must either follow or ignore.
probe_run() {
    local output=$1
    shift
    env CV_AGENTACTIVE=false CV_HOME=/planted-home CV_LOGLEVELSDK=finest "$@" >"$output" 2>&1
    cat "$output"
}
probe_follows_environment() {
    probe_run "$hardening_dir/probe.normal" "$hardening_dir/environment_probe" &&
        grep -qx 'secure: 0' "$hardening_dir/probe.normal" &&
        grep -qx '    Agent active:  false' "$hardening_dir/probe.normal" &&
        grep -qx 'status: affe0006' "$hardening_dir/probe.normal"
}
probe_ignores_environment() {
    grep -qx '    Agent active:  true' "$hardening_dir/probe.setuid" &&
        grep -qx "    Agent module:  ''" "$hardening_dir/probe.setuid" &&
        ! grep -q 'planted-home' "$hardening_dir/probe.setuid" &&
        grep -qx 'status: affe0007' "$hardening_dir/probe.setuid"
}
if [ "$(uname -s)" = Linux ]; then
    if hardening_check "environment probe builds" probe_build; then
        hardening_check "a normal run follows CV_*" probe_follows_environment
        # The copy belongs to "daemon" and runs as "nobody": secure, yet not privileged.
        if [ "$(id -u)" -ne 0 ] || ! command -v setpriv >/dev/null ||
            ! id daemon >/dev/null 2>&1 || ! id nobody >/dev/null 2>&1; then
            echo "  skip  set-user-id run: needs root, setpriv and the users daemon and nobody"
        else
            setuid_probe="$hardening_dir/environment_probe-setuid"
            cp "$hardening_dir/environment_probe" "$setuid_probe"
            chown daemon "$setuid_probe" && chmod 4755 "$setuid_probe"
            probe_run "$hardening_dir/probe.setuid" setpriv --reuid=nobody --regid=nogroup \
                --clear-groups "$setuid_probe" >/dev/null
            if grep -qx 'secure: 1' "$hardening_dir/probe.setuid"; then
                hardening_check "a set-user-id run ignores CV_*" probe_ignores_environment
            else
                echo "  skip  set-user-id run: the file system does not honour set-user-id" \
                    "here (nosuid mount?); see $hardening_dir/probe.setuid"
            fi
        fi
    fi
fi
