// db's option parser over a whole argument vector made of the fuzz bytes.
#include "bv_db.cpp"
#include "fuzz.h"

// The options' work is left out: no database is opened.
static void no_action(int, const char *) {}

// The usage lists the tables of the chosen database: no database opens here
// (linked with -Wl,--wrap=sqlite_conn), the list is its failure report.
extern "C" int __wrap_sqlite_conn(const char *, const char *, void **handle)
{
    *handle = NULL;
    return 14; // SQLITE_CANTOPEN
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    FUZZ_KEEP(db_path);
    FUZZ_KEEP(db_lock_path);
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
