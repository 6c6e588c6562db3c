// wifi's record and parser where the end-to-end tests see only what the
// library made of them: the record's bytes as the library reads them, what
// completion derives, and the record each WPS type hands over, and link
// answers the real library never gives (the library calls are link-time
// doubles, bv_wifi_test.cmake). Call order and failures: tests/e2e/wifi.test.
#include "bv_wifi.cpp"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

namespace
{

// What the doubles saw, in call order, and what they answer.
struct Calls {
    std::vector<std::string> names;
    std::vector<struct wifi_conf> configs; // the record at each wifi_config
    int link_state = WIFI_LINK_UP;
    int config_result = 0;
    const char *pin = "12345670";
};
Calls calls;
int list_token;

// argv as getopt wants it: the program, -M wifi, then WORDS.
struct Args {
    explicit Args(std::vector<std::string> words)
    {
        strings = {"debug", "-M", "wifi"};
        strings.insert(strings.end(), words.begin(), words.end());
        for (std::string &s : strings)
            argv.push_back(&s[0]);
        argv.push_back(nullptr);
    }
    int argc() const { return (int)argv.size() - 1; }
    std::vector<std::string> strings;
    std::vector<char *> argv;
};

} // namespace

extern "C" {
int __wrap_wifi_config(const struct wifi_conf *conf)
{
    calls.names.push_back("config");
    calls.configs.push_back(*conf);
    return calls.config_result;
}
void *__wrap_wifi_info_scan(uint32_t mode)
{
    calls.names.push_back("scan " + std::to_string(mode));
    return &list_token;
}
int __wrap_wifi_info_list_delete(void *list)
{
    calls.names.push_back(list == &list_token ? "delete" : "delete ?");
    return 0;
}
int __wrap_wifi_get_status(void)
{
    calls.names.push_back("get_status");
    return calls.link_state;
}
int __wrap_wifi_print_status(void)
{
    calls.names.push_back("print_status");
    return 0;
}
int __wrap_wifi_print_config(void)
{
    calls.names.push_back("print_config");
    return 0;
}
int __wrap_wifi_wps_get_pin(char *pin)
{
    calls.names.push_back("get_pin");
    memcpy(pin, calls.pin, strlen(calls.pin));
    return 0;
}
}

namespace
{

const struct wifi_conf initial = wifi_conf;

class Wifi : public testing::Test
{
  protected:
    void SetUp() override
    {
        wifi_conf = initial;
        config_requested = 0;
        stop_flag = 0;
        calls = Calls();
    }
    void TearDown() override { stop_flag = 0; }

    // Runs the module on WORDS; its standard output.
    std::string run(std::vector<std::string> words)
    {
        Args args(std::move(words));
        CaptureStdout();
        EXPECT_EQ(wifi_test_main(args.argc(), args.argv.data()), 0);
        return GetCapturedStdout();
    }
    // Parses and completes WORDS without applying anything.
    void parse(std::vector<std::string> words)
    {
        Args args(std::move(words));
        wifi_init_param(args.argc(), args.argv.data());
        wifi_complete_param();
    }
};

using Names = std::vector<std::string>;

TEST_F(Wifi, DefaultRecordBytesAreWhatTheLibraryReads)
{
    const unsigned char *b = (const unsigned char *)&wifi_conf;
    EXPECT_STREQ((const char *)b, "Brevantis-Test");
    for (size_t i = strlen("Brevantis-Test"); i < 128; i++)
        ASSERT_EQ(b[i], 0) << "ssid padding at " << i;
    const unsigned char channel[] = {0x8a, 0x09, 0, 0}; // 2442, little-endian
    EXPECT_EQ(memcmp(b + 132, channel, 4), 0);
    EXPECT_EQ(b[136], 2); // key_mgmt
    EXPECT_EQ(b[144], 5); // group
    EXPECT_EQ(b[148], 8); // encryption
    EXPECT_STREQ((const char *)b + 153, "k7q2m");
    EXPECT_STREQ((const char *)b + 249, "8f3a1c5e7b9d2f4a6c8e0b1d3f");
    EXPECT_EQ(b[281] | b[282] | b[283], 0);
    EXPECT_EQ(b[284], 1); // keytype ASCII
    EXPECT_STREQ((const char *)b + 296, "tolvanrik");
    EXPECT_EQ(b[360], 1); // wps_type PBC
    EXPECT_EQ(b[361], 1);
    EXPECT_EQ(b[362], 0);
    EXPECT_STREQ((const char *)b + 427, "40719263");
    EXPECT_STREQ((const char *)b + 444, "192.168.0.190");
    EXPECT_STREQ((const char *)b + 476, "255.255.255.0");
    EXPECT_EQ(strlen((const char *)b + 508), 17u); // a MAC address
    EXPECT_STREQ((const char *)b + 540, "wlan0");
}

TEST_F(Wifi, NumbersInAnyBaseAndTextsCutToTheirSize)
{
    parse({"--select", "0x3", "-m", "Ad-Hoc", "-c", "0x0e", "--ssid", std::string(200, 's')});
    EXPECT_EQ(wifi_conf.wep_select, 3);
    EXPECT_EQ(wifi_conf.mode, 0u);
    EXPECT_EQ(wifi_conf.channel, 14u);
    EXPECT_EQ(strlen(wifi_conf.ssid), 127u);
    EXPECT_EQ(config_requested, 0);
    parse({"-c", "7"});
    EXPECT_EQ(wifi_conf.channel, 7u);
    wifi_conf.channel = 2442;
    parse({"--channel", "7"});
    EXPECT_EQ(wifi_conf.channel, 7u);

    // --pincode writes ten bytes at most: the bytes after them keep their zeros.
    memset(wifi_conf.pincode, 0, sizeof wifi_conf.pincode);
    wifi_conf.pincode[12] = 'z';
    parse({"--pincode", "87654321"});
    EXPECT_STREQ(wifi_conf.pincode, "87654321");
    EXPECT_EQ(wifi_conf.pincode[9], 0);
    EXPECT_EQ(wifi_conf.pincode[12], 'z');
}

TEST_F(Wifi, EncryptionNamesSetAuthAlgUnlessALaterOptionDoes)
{
    parse({"-e", "WEP40-SHARED"});
    EXPECT_EQ(wifi_conf.encryption, 1u);
    EXPECT_EQ(wifi_conf.auth_alg, 1u);
    parse({"-e", "wep104-shared", "--auth_alg", "0"});
    EXPECT_EQ(wifi_conf.auth_alg, 0u);
    parse({"--auth_alg", "2", "-e", "WPA2-PSK"});
    EXPECT_EQ(wifi_conf.auth_alg, 2u);
    parse({"-e", "Wpa-Psk"}); // only all capitals or all small letters
    EXPECT_EQ(wifi_conf.encryption, 0u);
    EXPECT_EQ(config_requested, 1);
}

TEST_F(Wifi, WepCompletionFollowsTheSelectedKeysLength)
{
    struct {
        const char *select;
        uint32_t keytype, group;
    } cases[] = {{"0", 1, 3}, {"1", 0, 3}, {"2", 1, 2}, {"3", 0, 2}};
    for (const auto &c : cases) {
        wifi_conf = initial;
        parse({"-e", "WEP104-OPEN", "--keytype", "0", "--group", "6", "--select", c.select});
        EXPECT_EQ(wifi_conf.keytype, c.keytype) << "--select " << c.select;
        EXPECT_EQ(wifi_conf.group, c.group) << "--select " << c.select;
        EXPECT_EQ(wifi_conf.auth_alg, 0u);
    }
}

TEST_F(Wifi, PskCompletionReplacesProtoAndGroup)
{
    parse({"-e", "2", "--pairwise", "2", "--group", "3", "--proto", "2"});
    EXPECT_EQ(wifi_conf.proto, 0u);
    EXPECT_EQ(wifi_conf.group, 0u);
    parse({"-e", "3", "--pairwise", "1", "--proto", "0"});
    EXPECT_EQ(wifi_conf.proto, 1u);
    EXPECT_EQ(wifi_conf.group, 1u);
    parse({"-e", "4", "--pairwise", "0", "--group", "2"});
    EXPECT_EQ(wifi_conf.proto, 2u);
    EXPECT_EQ(wifi_conf.group, 5u);
}

TEST_F(Wifi, OtherEncryptionsKeepWhatTheOptionsMade)
{
    for (const char *enc : {"0", "5", "6", "7", "8"}) {
        wifi_conf = initial;
        parse({"-e", enc, "--group", "4", "--proto", "1", "--keytype", "0"});
        EXPECT_EQ(wifi_conf.group, 4u) << enc;
        EXPECT_EQ(wifi_conf.proto, 1u) << enc;
        EXPECT_EQ(wifi_conf.keytype, 0u) << enc;
    }
}

TEST_F(Wifi, LinkLineByTheLibrarysAnswerThenTheStatus)
{
    struct {
        int state;
        const char *line;
    } cases[] = {{0, "Wifi link down!\n"},
                 {1, "Wifi link up!\n"},
                 {2, "Wifi can't check link status!\n"},
                 {-1, "Wifi can't check link status!\n"}};
    for (const auto &c : cases) {
        calls = Calls();
        calls.link_state = c.state;
        EXPECT_EQ(run({"--link"}), c.line);
        EXPECT_EQ(calls.names, (Names{"get_status", "print_status"}));
    }
}

TEST_F(Wifi, WpsTypes)
{
    EXPECT_EQ(run({"--wps", "0"}), "Get IPC-wifi pin code = 12345670 \n");
    EXPECT_EQ(calls.names, Names{"get_pin"});

    SetUp();
    calls.pin = "123456789"; // a library that writes past eight digits
    EXPECT_EQ(run({"-e", "2", "--wps", "0"}), "Get IPC-wifi pin code = 12345678 \n");
    EXPECT_EQ(calls.names, (Names{"get_pin", "config"}));
    EXPECT_EQ(calls.configs[0].encryption, 8u);
    EXPECT_EQ(calls.configs[0].wps_type, 0);

    SetUp();
    run({"--wps", "1"});
    ASSERT_EQ(calls.configs.size(), 1u);
    EXPECT_EQ(calls.configs[0].encryption, 8u);
    EXPECT_EQ(calls.configs[0].wps_type, 1);

    SetUp();
    run({"--wps", "2"});
    ASSERT_EQ(calls.configs.size(), 1u);
    EXPECT_EQ(calls.configs[0].encryption, 8u);
    EXPECT_EQ(calls.configs[0].wps_type, 2);
    EXPECT_EQ(calls.configs[0].wps_pbc, 1);
    EXPECT_EQ(calls.configs[0].wps_pin, 1);
}

} // namespace
