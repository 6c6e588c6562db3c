// pwm's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_pwm.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(pwm_req);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "pwm", data, size);
    fuzz_call([&] { pwm_init_param(args.argc, args.argv); });
    fuzz_args_free(&args);
    return 0;
}
