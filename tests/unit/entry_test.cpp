// The entry point's command-line scan: words longer than their buffers.
#include "debug_module.h"

#include <gtest/gtest.h>

#include <string.h>

#include <string>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace {

TEST(ParseArgs, CutsOverlongProgramAndModuleNames)
{
    std::string arg0(300, 'p'), name(100, 'm'), help(70, 'h');
    char dash_m[] = "-M", dash_h[] = "-h";
    char *argv[] = {&arg0[0], dash_m, &name[0], dash_h, &help[0], NULL};
    CaptureStdout();
    EXPECT_EQ(test_parse_args(5, argv), 0);
    EXPECT_EQ(GetCapturedStdout(), "debug version: 1.2.0\n");
    EXPECT_EQ(std::string(prog_name), std::string(255, 'p'));
    EXPECT_EQ(std::string(module_name), std::string(63, 'm'));
    EXPECT_EQ(std::string(help_module_name), std::string(63, 'h'));
}

} // namespace
