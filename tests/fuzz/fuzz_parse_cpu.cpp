// cpu's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_cpu.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(cpu_delay);
    FUZZ_KEEP(cpu_count);
    FUZZ_KEEP(cpu_log_name);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "cpu", data, size);
    int result = 0;
    if (fuzz_call([&] { result = cpu_init_param(args.argc, args.argv); }) == 0 && result == 0)
        FUZZ_CHECK(cpu_delay > 0 && cpu_count > 0 &&
                   strnlen(cpu_log_name, sizeof cpu_log_name) < sizeof cpu_log_name);
    fuzz_args_free(&args);
    return 0;
}
