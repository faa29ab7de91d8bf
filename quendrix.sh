#!/usr/bin/env bash
# Sets up a Debian 12 machine for Quendrix, then builds and runs the program or its tests.
#
#   ./quendrix.sh run               install what is missing, build, start Quendrix
#   ./quendrix.sh test              install what is missing, build, run every test
#   ./quendrix.sh test --sanitize   the same, built with AddressSanitizer and UBSan
#   ./quendrix.sh test --thread     the tests where threads meet, built with ThreadSanitizer
set -euo pipefail

cd "$(dirname "$0")"

PACKAGES=(
    build-essential cmake ninja-build pkg-config patch
    juce-modules-source libusb-1.0-0-dev
    libgtest-dev umockdev libumockdev-dev
    xvfb xauth x11-utils xdotool imagemagick fonts-dejavu-core
    lame libbenchmark-dev
)

install_missing_packages()
{
    local missing=()
    for package in "${PACKAGES[@]}"; do
        dpkg-query -W -f='${Status}' "$package" 2>/dev/null | grep -q "install ok installed" || missing+=("$package")
    done

    [ ${#missing[@]} -eq 0 ] && return 0

    local sudo=()
    [ "$(id -u)" -eq 0 ] || sudo=(sudo)

    echo "Installing: ${missing[*]}"
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get update -q
    "${sudo[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
}

build()
{
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@"
    cmake --build "$dir" --parallel "$(nproc)"
}

command=${1:-}
shift || true

case "$command" in
    run)
        install_missing_packages
        build build-release -DCMAKE_BUILD_TYPE=Release -DQUENDRIX_BUILD_TESTS=OFF
        exec build-release/Quendrix_artefacts/Release/Quendrix
        ;;
    test)
        install_missing_packages
        selection=()
        if [ "${1:-}" = "--sanitize" ]; then
            dir=build-sanitize
            build "$dir" -DCMAKE_BUILD_TYPE=Debug -DQUENDRIX_SANITIZE=ON
            export ASAN_OPTIONS="detect_leaks=1:abort_on_error=0:halt_on_error=1:detect_stack_use_after_return=0"
            export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizer-leaks.supp:print_suppressions=0"
            export UBSAN_OPTIONS="halt_on_error=1:print_stacktrace=1"
        elif [ "${1:-}" = "--thread" ]; then
            dir=build-tsan
            build "$dir" -DCMAKE_BUILD_TYPE=Debug -DQUENDRIX_THREAD_SANITIZE=ON
            # Hand-over, hot-plug and the workers: the suites where the message thread, the
            # "libusb" thread and the workers meet.
            selection=(--tests-regex '^(HandOver|DeviceScan|UsbManager|ImportWorker|Transfers|UserAction|ApplicationShell)'
                       --label-exclude e2e --no-tests=error)
            export TSAN_OPTIONS="suppressions=$PWD/tests/thread-sanitizer.supp:second_deadlock_stack=1"
        else
            dir=build-tests
            build "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo
        fi
        # One Xvfb display for the tests that open real windows.
        xvfb-run --auto-servernum --server-args="-screen 0 1280x1024x24" \
            ctest --test-dir "$dir" --output-on-failure --parallel "$(nproc)" --timeout 600 "${selection[@]}"
        ;;
    *)
        sed -n '2,8p' "$0"
        exit 2
        ;;
esac
