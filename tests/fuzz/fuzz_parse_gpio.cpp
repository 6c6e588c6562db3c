// gpio's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_gpio.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(gpio_req);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "gpio", data, size);
    int result = 0;
    if (fuzz_call([&] { result = gpio_init_param(args.argc, args.argv); }) == 0 && result == 0)
        FUZZ_CHECK(gpio_req.op != GPIO_OP_WRITE || gpio_req.id <= GPIO_WRITE_ID_MAX);
    fuzz_args_free(&args);
    return 0;
}
