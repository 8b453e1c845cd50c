# Installers for the tools of the hardening stages (sanitizers, fuzzing,
# valgrind); sourced, not run, after common.sh. Each installs Debian's packages with apt_install
# only when the tool is missing (as root, or through sudo).

# Whether clang++ links a libFuzzer target with AddressSanitizer and UBSan.
clang_fuzzer_works() {
    local dir ok=1
    command -v clang++ >/dev/null 2>&1 || return 1
    dir=$(mktemp -d)
    printf 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }\n' >"$dir/t.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/t.cpp" -o "$dir/t" >/dev/null 2>&1 && ok=0
    rm -rf "$dir"
    return $ok
}

# Installs clang and its runtime libraries (libFuzzer, the sanitizers' runtimes
# are in Debian's libclang-rt-N-dev, N the major version of clang).
ensure_clang_fuzzer() {
    clang_fuzzer_works && return 0
    command -v clang++ >/dev/null 2>&1 || apt_install clang
    local major
    major=$(clang++ -dumpversion | cut -d. -f1)
    apt_install "libclang-rt-${major}-dev"
    if ! clang_fuzzer_works; then
        echo "error: clang++ -fsanitize=fuzzer does not link; install clang's libFuzzer runtime by hand." >&2
        return 1
    fi
}

ensure_valgrind() {
    command -v valgrind >/dev/null 2>&1 || apt_install valgrind
}
