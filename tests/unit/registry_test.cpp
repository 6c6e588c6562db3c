// The module table: ordering, refusals, dispatch, the list and the usage
// printer.
#include "debug_module.h"
#include "osa.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

std::vector<std::string> calls;
int run_ok(int argc, char **argv)
{
    calls.push_back(std::string("run ") + argv[argc - 1]);
    return 0;
}
int run_fails(int, char **) { return -7; }
int usage_a(void) { calls.push_back("usage a"); return 0; }
int release_a(void) { calls.push_back("release a"); return 0; }
int release_b(void) { calls.push_back("release b"); return 0; }

// Names must outlive the table entries: the table keeps the pointers.
std::vector<std::string> name_store;
debug_module make(const char *name, uint8_t id, int (*release)(void) = NULL)
{
    return debug_module{name, id, run_ok, usage_a, release};
}

class Registry : public testing::Test {
protected:
    void SetUp() override { clear(); calls.clear(); }
    void TearDown() override { clear(); }
    static void clear()
    {
        while (module_count > 0)
            module_unregister(&module_table[0]);
    }
    static std::string order()
    {
        std::string s;
        for (int i = 0; i < module_count; i++)
            s += std::string(s.empty() ? "" : " ") + module_table[i].name;
        return s;
    }
};

TEST_F(Registry, SortsByNumberAndKeepsRegistrationOrderForEqualNumbers)
{
    const char *names[] = {"sdmmc", "motor", "wifi", "cpu", "extdrv", "media", "ir",
                           "mtd", "db", "pt", "adc", "gpio", "pwm", "ptz"};
    const uint8_t ids[] = {10, 9, 18, 8, 24, 19, 15, 23, 12, 20, 2, 3, 4, 7};
    for (size_t i = 0; i < ARRAY_SIZE(names); i++) {
        debug_module m = make(names[i], ids[i]);
        module_register(&m);
    }
    EXPECT_EQ(order(), "adc gpio pwm ptz cpu motor sdmmc db ir wifi media pt mtd extdrv");

    debug_module first = make("first", 12), second = make("second", 12);
    module_register(&first);
    module_register(&second);
    EXPECT_EQ(order(), "adc gpio pwm ptz cpu motor sdmmc db first second ir wifi media pt mtd extdrv");
}

TEST_F(Registry, RefusesAbsentDuplicateAndOverflow)
{
    module_register(NULL);
    debug_module nameless = make(NULL, 1);
    module_register(&nameless);
    EXPECT_EQ(module_count, 0);

    debug_module db = make("db", 12), upper = make("DB", 3);
    module_register(&db);
    module_register(&upper);
    EXPECT_EQ(order(), "db");
    EXPECT_EQ(module_lookup("Db"), &module_table[0]);

    clear();
    name_store.clear();
    for (int i = 0; i < 27; i++)
        name_store.push_back("m" + std::to_string(i));
    for (int i = 0; i < 27; i++) {
        debug_module m = make(name_store[i].c_str(), (uint8_t)(i % 5));
        module_register(&m);
    }
    EXPECT_EQ(module_count, 26);
    EXPECT_EQ(module_lookup("m26"), nullptr);
    EXPECT_NE(module_lookup("m25"), nullptr);
}

TEST_F(Registry, UnregisterKeepsTheTableDense)
{
    debug_module a = make("a", 1), b = make("b", 2), c = make("c", 3), d = make("d", 0);
    module_register(&a);
    module_register(&b);
    module_register(&c);
    module_unregister(&b);
    module_unregister(&b); // not registered any more: nothing happens
    module_register(&d);
    EXPECT_EQ(order(), "d a c");
    EXPECT_EQ(module_table[3].name, nullptr);
}

TEST_F(Registry, DispatchComparesNamesExactly)
{
    debug_module db = make("db", 12);
    db.run = run_ok;
    module_register(&db);
    char arg0[] = "debug", arg1[] = "-M", arg2[] = "db";
    char *argv[] = {arg0, arg1, arg2, NULL};
    EXPECT_EQ(module_run("db", 3, argv), 0);
    EXPECT_EQ(module_run("DB", 3, argv), 0);
    EXPECT_EQ(module_run("nosuch", 3, argv), 0);
    EXPECT_EQ(module_help("Db"), 0);
    EXPECT_EQ(module_help("db"), 0);
    EXPECT_EQ(calls, (std::vector<std::string>{"run db", "usage a"}));

    module_table[0].run = run_fails;
    EXPECT_EQ(module_run("db", 3, argv), -7);
}

TEST_F(Registry, ReleaseWalkCallsOnlyReleasesInTableOrder)
{
    debug_module mtd = make("mtd", 23, release_b), adc = make("adc", 2, release_a),
                 cpu = make("cpu", 8);
    module_register(&mtd);
    module_register(&cpu);
    module_register(&adc);
    module_release_all();
    EXPECT_EQ(calls, (std::vector<std::string>{"release a", "release b"}));
}

TEST_F(Registry, ListBreaksAfterEveryEighthName)
{
    name_store.clear();
    for (int i = 0; i < 14; i++)
        name_store.push_back("n" + std::to_string(i));
    for (int i = 0; i < 8; i++) {
        debug_module m = make(name_store[i].c_str(), (uint8_t)i);
        module_register(&m);
    }
    CaptureStdout();
    module_print_list();
    EXPECT_EQ(GetCapturedStdout(),
              "modules name:\n\tn0\tn1\tn2\tn3\tn4\tn5\tn6\tn7\n\n");

    for (int i = 8; i < 14; i++) {
        debug_module m = make(name_store[i].c_str(), (uint8_t)i);
        module_register(&m);
    }
    CaptureStdout();
    module_print_list();
    EXPECT_EQ(GetCapturedStdout(), "modules name:\n\tn0\tn1\tn2\tn3\tn4\tn5\tn6\tn7\n"
                                   "\tn8\tn9\tn10\tn11\tn12\tn13\n");

    clear();
    CaptureStdout();
    module_print_list();
    EXPECT_EQ(GetCapturedStdout(), "modules name:\n\n");
}

const struct option usage_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"zero", no_argument, NULL, 0},
    {"init", no_argument, NULL, 1},
    {"table", no_argument, NULL, 't'},
    {"x", no_argument, NULL, '?'},
    {NULL, 0, NULL, 0},
};
const help_entry usage_help[] = {
    {"module", "module name: db"},
    {"str", "zero value"},
    {"", "one value"},
    {"", "List table name"},
    {"n", "not a letter"},
};

TEST_F(Registry, UsagePrinterLayout)
{
    debug_module db = make("db", 12);
    module_register(&db);
    snprintf(prog_name, sizeof prog_name, "%s", "./debug");
    const std::string rule(80, '*');

    CaptureStdout();
    module_print_usage(12, usage_options, usage_help, 5);
    EXPECT_EQ(GetCapturedStdout(), rule + "\ndb usage:\n./debug -M db [option] \n"
                                          "-M  --module [module]\tmodule name: db\n"
                                          "    --zero [str]\tzero value\n"
                                          "    --init\t\tone value\n"
                                          "-t  --table\t\tList table name\n"
                                          "    --x [n]\tnot a letter\n" +
                                          rule + "\n");

    CaptureStdout();
    module_print_usage(12, usage_options, usage_help, 0);
    EXPECT_EQ(GetCapturedStdout(), rule + "\ndb usage:\n./debug -M db [option] \n" + rule + "\n");

    CaptureStdout();
    module_print_usage(25, usage_options, usage_help, 5);
    module_print_usage(255, usage_options, usage_help, 5);
    module_print_usage(11, usage_options, usage_help, 5); // no module has 11
    print_char_repeat(0, '*');
    EXPECT_EQ(GetCapturedStdout(), "");
}

} // namespace
