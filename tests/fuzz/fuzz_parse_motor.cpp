// motor's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_motor.cpp"
#include "fuzz.h"

// The P-iris is left alone: no motor is driven.
static void no_piris(uint32_t) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(stepper_req);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "motor", data, size);
    if (fuzz_call([&] { motor_init_param(args.argc, args.argv, no_piris); }) == 0)
        FUZZ_CHECK(stepper_req.type <= STEPPER_PIRIS && stepper_req.dir <= STEPPER_HOME);
    fuzz_args_free(&args);
    return 0;
}
