// wifi's option parser over a whole argument vector made of the fuzz bytes.
// The action options are parsed with their gate closed (stop_flag set); the
// fields derived from the others before the record is applied follow.
#include "bv_wifi.cpp"
#include "fuzz.h"

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    // The gate of the action options stays closed, as after a stop: scan,
    // status, link and WPS pin are parsed but never run.
    stop_flag = 1;
    FUZZ_KEEP(wifi_conf);
    FUZZ_KEEP(config_requested);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "wifi", data, size);
    fuzz_call([&] {
        wifi_init_param(args.argc, args.argv);
        wifi_complete_param();
    });
    fuzz_args_free(&args);
    return 0;
}
