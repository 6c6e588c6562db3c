// db's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_db.cpp"
#include "fuzz.h"

// The options' work is left out: no database is opened.
static void no_action(int, const char *) {}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz_args args;
    fuzz_args_build(&args, "db", data, size);
    fuzz_call([&] { db_init_param(args.argc, args.argv, no_action); });
    fuzz_args_free(&args);
    return 0;
}
