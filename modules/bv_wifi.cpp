// wifi: fills the Wi-Fi configuration record from the command line and
// hands it to the camera's Wi-Fi library, which applies it to the
// interface; options also scan, print the working information, check the
// link and fetch a WPS pin, each at the moment it is met. The module holds
// no Wi-Fi logic of its own: the library's answers are reported in fixed
// words.
#include "bvwifi.h"
#include "debug_module.h"
#include "osa.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char OSA_UNIT[] = "bv_wifi";

enum { WIFI_ID = 18 };

static struct wifi_conf wifi_conf = {
    "Brevantis-Test",             // ssid
    WIFI_MODE_MANAGED,            // mode
    2442,                         // channel: channel 7's centre frequency in MHz
    2,                            // key_mgmt: WPA-PSK
    0,                            // auth_alg: open system
    5,                            // group: TKIP+CCMP
    WIFI_ENC_WPS,                 // encryption
    0,                            // wep_select
    "k7q2m",                      // key0
    "5a7d1e9c42",                 // key1
    "q8wz3nt5vr1xl",              // key2
    "8f3a1c5e7b9d2f4a6c8e0b1d3f", // key3
    {0, 0, 0},                    // padding
    WIFI_KEY_ASCII,               // keytype
    3,                            // pairwise: AUTO
    2,                            // proto: AUTO
    "tolvanrik",                  // psk
    WIFI_WPS_PBC,                 // wps_type
    1,                            // wps_pbc
    0,                            // wps_pin
    "Brevantis-Test",             // apname
    "40719263",                   // pincode
    "192.168.0.190",              // ip_addr
    "255.255.255.0",              // netmask
    "02:1a:2b:3c:4d:5e",          // mac_addr
    "wlan0",                      // ifname
};

// Set by a valid --encryp and by --wps 1 or 2: the record is applied after
// parsing. Nothing clears it.
static int config_requested;

static const char WIFI_SHORT_OPTIONS[] = "M:m:e:c:";

enum wifi_long_option {
    OPT_AUTH_ALG = 256,
    OPT_KEY_MGMT,
    OPT_GROUP,
    OPT_SSID,
    OPT_SELECT,
    OPT_KEY0,
    OPT_KEY1,
    OPT_KEY2,
    OPT_KEY3,
    OPT_KEYTYPE,
    OPT_PAIRWISE,
    OPT_PROTO,
    OPT_PSK,
    OPT_WPS,
    OPT_APNAME,
    OPT_PINCODE,
    OPT_SCAN,
    OPT_STATUS,
    OPT_LINK,
};

static const struct option wifi_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"mode", required_argument, NULL, 'm'},
    {"encryp", required_argument, NULL, 'e'},
    {"channel", required_argument, NULL, 'c'},
    {"auth_alg", required_argument, NULL, OPT_AUTH_ALG},
    {"key_mgmt", required_argument, NULL, OPT_KEY_MGMT},
    {"group", required_argument, NULL, OPT_GROUP},
    {"ssid", required_argument, NULL, OPT_SSID},
    {"select", required_argument, NULL, OPT_SELECT},
    {"key0", required_argument, NULL, OPT_KEY0},
    {"key1", required_argument, NULL, OPT_KEY1},
    {"key2", required_argument, NULL, OPT_KEY2},
    {"key3", required_argument, NULL, OPT_KEY3},
    {"keytype", required_argument, NULL, OPT_KEYTYPE},
    {"pairwise", required_argument, NULL, OPT_PAIRWISE},
    {"proto", required_argument, NULL, OPT_PROTO},
    {"psk", required_argument, NULL, OPT_PSK},
    {"wps", required_argument, NULL, OPT_WPS},
    {"apname", required_argument, NULL, OPT_APNAME},
    {"pincode", required_argument, NULL, OPT_PINCODE},
    {"scan", no_argument, NULL, OPT_SCAN},
    {"status", no_argument, NULL, OPT_STATUS},
    {"link", no_argument, NULL, OPT_LINK},
    {NULL, 0, NULL, 0},
};
// "dight" is the label these rows have always printed.
static const help_entry wifi_help[] = {
    {"module", "module name: wifi"},
    {"digit", "wifi work mode default [0:manage]"},
    {"str", "wifi encryption type default[4:wpa-wpa2-psk]"},
    {"digit", "wifi work channel, default [7]:2.442GHZ"},
    {"digit", "wifi auth_alg, default[0:OPEN]"},
    {"digit", "wifi key_mgmt, default[2:PSK]"},
    {"digit", "wifi group, default[5:WPA]"},
    {"str", "wifi ssid name, default[Brevantis-Test]"},
    {"digit", "wifi wep key select, default[0]"},
    {"str", "wifi wep key0, default [k7q2m(ASCII)]"},
    {"str", "wifi wep key1, default [5a7d1e9c42(HEX)]"},
    {"str", "wifi wep key2, default [q8wz3nt5vr1xl(ASCII)]"},
    {"str", "wifi wep key3, default [8f3a1c5e7b9d2f4a6c8e0b1d3f(HEX)]"},
    {"dight", "wifi wep key type, default[1:ASCII]"},
    {"dight", "wifi wpa pairwise, default[3:AUTO]"},
    {"dight", "wifi wpa proto, default[2:AUTO]"},
    {"pskkey", "wifi wpa psk key, default[tolvanrik]"},
    {"digit", "wifi wps type, default[1: PBC]"},
    {"str", "wifi wps appin AP name, default[Brevantis-Test]"},
    {"str", "wifi wps appin pin code, default[40719263]"},
    {"", "wifi scan AP infromation"},
    {"", "wifi get current work information"},
    {"", "wifi check device link up/down"},
};
static_assert(OPTION_ROWS(wifi_options) == ARRAY_SIZE(wifi_help), "one help row per option");
static_assert(ARRAY_SIZE(wifi_help) == 23, "the usage prints 23 rows");

/* ---- what each option stores and checks --------------------------------------- */

// A number option: the value is stored in its field, then checked against
// low..high; one that does not fit the field's width (32 or 8 bits) is bad
// too. The report is HEAD "[low-high]" TAIL.
static const struct wifi_number {
    int opt;
    uint32_t *field; // a 32-bit field, or
    uint8_t *field8; // an 8-bit one
    uint32_t low, high;
    const char *head, *tail;
} wifi_numbers[] = {
    {'m', &wifi_conf.mode, NULL, 0, 1, "Error wifi mode, must be", "\n"},
    {'e', &wifi_conf.encryption, NULL, 0, 8, "Error wifi encryption, must be", "\n"},
    {'c', &wifi_conf.channel, NULL, 1, 14, "Error wifi freq, must be", "\n"},
    {OPT_AUTH_ALG, &wifi_conf.auth_alg, NULL, 0, 2, "Error wifi auth_alg, must be", "\n"},
    {OPT_KEY_MGMT, &wifi_conf.key_mgmt, NULL, 0, 5, "Error wifi key_mgmt, must be", "\n"},
    {OPT_GROUP, &wifi_conf.group, NULL, 0, 6, "Error wifi group, must be", "\n"},
    {OPT_SELECT, NULL, &wifi_conf.wep_select, 0, 3, "Error wifi wep index, must be ", "\n"},
    {OPT_KEYTYPE, &wifi_conf.keytype, NULL, 0, 1, "Error wifi wep keyType, must be ", "\n"},
    {OPT_PAIRWISE, &wifi_conf.pairwise, NULL, 0, 3, "Error wifi wpa pairwise, must be ", "\n"},
    {OPT_PROTO, &wifi_conf.proto, NULL, 0, 2, "Error wifi wpa proto, must be ", "\n"},
    {OPT_WPS, NULL, &wifi_conf.wps_type, 0, 2, "Error WPS type must be ", "!\n"},
};

// A text option: copied verbatim into its field, cut to WRITE - 1
// characters, then checked by LENGTHS (a bit per valid length of the stored
// text) or by the argument's own length (OWN_MIN..OWN_MAX).
static const struct wifi_text {
    int opt;
    char *field;
    size_t write; // bytes the option writes, terminator included
    uint32_t lengths;
    size_t own_min, own_max;
    const char *error;
} wifi_texts[] = {
    {OPT_SSID, wifi_conf.ssid, WIFI_SSID_SIZE, 0, 1, (size_t)-1,
     "Error wifi ssid length, must > 0!\n"},
    {OPT_KEY0, wifi_conf.key0, WIFI_KEY_SIZE, 1u << 5 | 1u << 10 | 1u << 13 | 1u << 26, 0, 0,
     "Error wifi wep key0, must be [5,10,13,26]\n"},
    {OPT_KEY1, wifi_conf.key1, WIFI_KEY_SIZE, 1u << 5 | 1u << 10 | 1u << 13 | 1u << 26, 0, 0,
     "Error wifi wep key1, must be [5,10,13,26]\n"},
    {OPT_KEY2, wifi_conf.key2, WIFI_KEY_SIZE, 1u << 5 | 1u << 10 | 1u << 13 | 1u << 26, 0, 0,
     "Error wifi wep key2, must be [5,10,13,26]\n"},
    {OPT_KEY3, wifi_conf.key3, WIFI_KEY_SIZE, 1u << 5 | 1u << 10 | 1u << 13 | 1u << 26, 0, 0,
     "Error wifi wep key3, must be [5,10,13,26]\n"},
    {OPT_PSK, wifi_conf.psk, WIFI_PSK_SIZE, 0, 8, 63,
     "Error wifi wpa psk_key length, must be [8-63]\n"},
    {OPT_APNAME, wifi_conf.apname, WIFI_APNAME_SIZE, 0, 1, 63,
     "Error wifi WPS PinAP SSID length, must be [1-63]\n"},
    {OPT_PINCODE, wifi_conf.pincode, 10, 1u << 8, 0, 0,
     "Error wifi WPS PinAP PinCode length, must be 8\n"},
};

// Names --mode and --encryp know besides numbers, compared exactly.
static const struct wifi_name {
    int opt;
    const char *name;
    uint32_t value;
    int auth_alg; // -1: unchanged
} wifi_names[] = {
    {'m', "ad-hoc", WIFI_MODE_ADHOC, -1},
    {'m', "AD-HOC", WIFI_MODE_ADHOC, -1},
    {'m', "managed", WIFI_MODE_MANAGED, -1},
    {'m', "MANAGED", WIFI_MODE_MANAGED, -1},
    {'e', "WPA-PSK", WIFI_ENC_WPA_PSK, -1},
    {'e', "wpa-psk", WIFI_ENC_WPA_PSK, -1},
    {'e', "WPA2-PSK", WIFI_ENC_WPA2_PSK, -1},
    {'e', "wpa2-psk", WIFI_ENC_WPA2_PSK, -1},
    {'e', "WPA+WPA2-PSK", WIFI_ENC_WPA_WPA2_PSK, -1},
    {'e', "wpa+wpa2-psk", WIFI_ENC_WPA_WPA2_PSK, -1},
    {'e', "WEP40-OPEN", WIFI_ENC_WEP, 0},
    {'e', "wep40-open", WIFI_ENC_WEP, 0},
    {'e', "WEP40-SHARED", WIFI_ENC_WEP, 1},
    {'e', "wep40-shared", WIFI_ENC_WEP, 1},
    {'e', "WEP104-OPEN", WIFI_ENC_WEP, 0},
    {'e', "wep104-open", WIFI_ENC_WEP, 0},
    {'e', "WEP104-SHARED", WIFI_ENC_WEP, 1},
    {'e', "wep104-shared", WIFI_ENC_WEP, 1},
    {'e', "open", WIFI_ENC_OPEN, -1},
    {'e', "OPEN", WIFI_ENC_OPEN, -1},
};

static int wifi_usage(void);

/* ---- actions ------------------------------------------------------------------- */

static void wifi_scan(void)
{
    void *list = wifi_info_scan(wifi_conf.mode);
    wifi_info_list_delete(list);
}

static void wifi_status(void)
{
    wifi_print_config();
}

static void wifi_link(void)
{
    int state = wifi_get_status();
    if (state == WIFI_LINK_DOWN)
        OSA_puts("Wifi link down!");
    else if (state == WIFI_LINK_UP)
        OSA_puts("Wifi link up!");
    else
        OSA_puts("Wifi can't check link status!");
    wifi_print_status();
}

static void wifi_show_pin(void)
{
    char pin[WIFI_PIN_SIZE];
    memset(pin, 0, sizeof pin);
    wifi_wps_get_pin(pin);
    pin[sizeof pin - 1] = '\0';
    OSA_printf("Get IPC-wifi pin code = %s \n", pin);
}

// An action option's work. After Ctrl-C nothing more is started.
static void wifi_act(void (*action)(void))
{
    if (!stop_flag)
        action();
}

/* ---- parser -------------------------------------------------------------------- */

// A name of the option, or a number cut to BITS: 1, or 0 for a number that
// does not fit them (--wps 258 would be type 2).
static int wifi_read_number(int opt, const char *arg, unsigned int bits, uint32_t *value)
{
    for (const wifi_name &n : wifi_names) {
        if (n.opt == opt && strcmp(n.name, arg) == 0) {
            if (n.auth_alg >= 0)
                wifi_conf.auth_alg = (uint32_t)n.auth_alg;
            *value = n.value;
            return 1;
        }
    }
    return option_number(arg, bits, value);
}

// Stores a number option's value; NULL, or the rule it breaks.
static const wifi_number *wifi_store_number(const wifi_number *rule, const char *arg)
{
    uint32_t value;
    int fits = wifi_read_number(rule->opt, arg, rule->field8 != NULL ? 8 : 32, &value);
    if (rule->field8 != NULL)
        *rule->field8 = (uint8_t)value;
    else
        *rule->field = value;
    return fits && value >= rule->low && value <= rule->high ? NULL : rule;
}

// Stores a text option's value; NULL, or the rule it breaks.
static const wifi_text *wifi_store_text(const wifi_text *rule, const char *arg)
{
    strncpy(rule->field, arg, rule->write - 1);
    rule->field[rule->write - 1] = '\0';
    if (rule->lengths != 0) {
        size_t len = strlen(rule->field);
        return len < 32 && (rule->lengths & (1u << len)) != 0 ? NULL : rule;
    }
    size_t own = strlen(arg);
    return own >= rule->own_min && own <= rule->own_max ? NULL : rule;
}

static const wifi_number *wifi_number_rule(int opt)
{
    for (const wifi_number &rule : wifi_numbers)
        if (rule.opt == opt)
            return &rule;
    return NULL;
}

static const wifi_text *wifi_text_rule(int opt)
{
    for (const wifi_text &rule : wifi_texts)
        if (rule.opt == opt)
            return &rule;
    return NULL;
}

// What a valid value of an option does beyond storing it.
static void wifi_after(int opt)
{
    switch (opt) {
    case 'e':
        config_requested = 1;
        break;
    case OPT_WPS:
        if (wifi_conf.wps_type == WIFI_WPS_MASTER) {
            wifi_act(wifi_show_pin);
        } else if (wifi_conf.wps_type == WIFI_WPS_PBC) {
            wifi_conf.wps_pbc = 1;
            config_requested = 1;
        } else {
            wifi_conf.wps_pin = 1;
            config_requested = 1;
        }
        break;
    case OPT_SCAN:
        wifi_act(wifi_scan);
        break;
    case OPT_STATUS:
        wifi_act(wifi_status);
        break;
    case OPT_LINK:
        wifi_act(wifi_link);
        break;
    default:
        break;
    }
}

// Parses the whole argument vector, acting on each option as it is met. A
// bad value or option is reported, the usage printed, and the process ends.
static int wifi_init_param(int argc, char **argv)
{
    int opt;
    opterr = 1; // getopt's own diagnostics stay on
    optind = 0;
    while ((opt = getopt_long(argc, argv, WIFI_SHORT_OPTIONS, wifi_options, NULL)) != -1) {
        if (opt == '?') {
            OSA_ERROR("Unknow option\n");
            wifi_usage();
            exit(-1);
        }
        if (opt == OPT_WPS)
            wifi_conf.encryption = WIFI_ENC_WPS;
        const wifi_number *number = wifi_number_rule(opt);
        if (number != NULL && (number = wifi_store_number(number, optarg)) != NULL) {
            OSA_ERROR("%s[%d-%d]%s", number->head, (int)number->low, (int)number->high,
                      number->tail);
            wifi_usage();
            exit(-1);
        }
        const wifi_text *text = wifi_text_rule(opt);
        if (text != NULL && (text = wifi_store_text(text, optarg)) != NULL) {
            OSA_ERROR("%s", text->error);
            wifi_usage();
            exit(-1);
        }
        wifi_after(opt);
    }
    return 0;
}

// Derives the fields that depend on others before the record is applied.
static int wifi_complete_param(void)
{
    switch (wifi_conf.encryption) {
    case WIFI_ENC_WEP: {
        const char *keys[] = {wifi_conf.key0, wifi_conf.key1, wifi_conf.key2, wifi_conf.key3};
        size_t len = strnlen(keys[wifi_conf.wep_select & 3], WIFI_KEY_SIZE);
        if (len == 5 || len == 13)
            wifi_conf.keytype = WIFI_KEY_ASCII;
        else if (len == 10 || len == 26)
            wifi_conf.keytype = WIFI_KEY_HEX;
        if (len == 5 || len == 10)
            wifi_conf.group = 3; // WEP40
        else if (len == 13 || len == 26)
            wifi_conf.group = 2; // WEP104
        break;
    }
    case WIFI_ENC_WPA_PSK:
        wifi_conf.proto = 0;
        break;
    case WIFI_ENC_WPA2_PSK:
        wifi_conf.proto = 1;
        break;
    case WIFI_ENC_WPA_WPA2_PSK:
        wifi_conf.proto = 2;
        break;
    default:
        break;
    }
    if (wifi_conf.encryption >= WIFI_ENC_WPA_PSK && wifi_conf.encryption <= WIFI_ENC_WPA_WPA2_PSK)
        wifi_conf.group = wifi_conf.pairwise == 1 ? 1 : wifi_conf.pairwise == 2 ? 0 : 5;
    return 0;
}

/* ---- operations ------------------------------------------------------------------ */

static int wifi_test_main(int argc, char **argv)
{
    wifi_init_param(argc, argv);
    wifi_complete_param();
    // A configuration that was refused, or not wholly made, is a failed run:
    // a script must not take it for one that took effect.
    if (config_requested && !stop_flag && wifi_config(&wifi_conf) != 0) {
        OSA_ERROR("wifi config has error!\n");
        return -1;
    }
    return 0;
}

// The configuration page, then the example page; "" is an empty line.
static const char *const wifi_pages[] = {
    "Wifi configure descryption: ",
    "common config:",
    "    encryp=default[4:wpa-wpa2-psk]",
    "        [0]open: open mode, no encrypeted",
    "        [1]wep: wep encryption",
    "        [2]wpa-psk: WPA1 persional key",
    "        [3]wpa2-psk: WPA2 persional key",
    "        [4]wpa+wpa2-psk: WPA1+WPA2 persional key",
    "        [5]wpa-eap: WPA1 EPA encryption",
    "        [6]wpa2-eap: WPA2 EPA encryption",
    "        [7]wpa+wpa2-eap: WPA1+WPA2 EPA encryption",
    "        [8]wps: Wi-Fi Protected Setup, auto connect to Wi-Fi",
    "    mode=default[0:manage]",
    "        [0]: manage, [1]: ad-hoc",
    "    channel=default[7(2.442GHZ)]",
    "        [1(2.412GHZ)-14(2.484GHZ)], (step 0.005GHZ)",
    "    key_mgmt=default[2:WPA-PSK]",
    "        [0]NONE: for WEP or Ad-hoc open/wep encryption mode",
    "        [1]IEEE8021X: for ieee8021x]",
    "        [2]WPA-PSK: for WPA personal",
    "        [3]WPA-EAP: for WPA enterprise",
    "        [4]WPA-NONE: for Ad-hoc WPA encryption mode",
    "        [5]ALL: for all [NONE IEEE8021X WPA-PSK WPA-EAP]",
    "    auth_alg=default[0:OPEN]",
    "        [0]: OPEN, Open System authentication (required for WPA/WPA2)",
    "        [1]: Shared Key authentication (requires static WEP keys)",
    "        [2]: LEAP/Network EAP (only used with LEAP)",
    "    group=default[5:WPA]",
    "        [0]: CCMP/AES, [1]: TKIP, [2]:WEP104, [3]:WEP40",
    "        [4]: WEP104+WEP40, [5]: TKIP+CCMP (pairwise AUTO), [6]: any of them",
    "    ssid:=default[Brevantis-Test]",
    "",
    "WEP config:",
    "    select=default[0]",
    "        [n]: use WEP[n] as wep encrption key value",
    "    key0=default[k7q2m(ASCII)]",
    "    key1=default[5a7d1e9c42(HEX)]",
    "    key2=default[q8wz3nt5vr1xl(ASCII)]",
    "    key3=default[8f3a1c5e7b9d2f4a6c8e0b1d3f(HEX)]",
    "        keyn: the key of WEP encryption, length based on keytype",
    "    keytype=default[1:ASCII]",
    "        [0]: HEX, 10 or 26 hexadecimal digits (WEP40 or WEP104)",
    "        [1]: ASCII, 5 or 13 characters (WEP40 or WEP104)",
    "",
    "WPA personal config:",
    "    pairwise=default[3:AUTO]",
    "        [0]NONE: Use only Group Keys, use in ad-hoc mode",
    "        [1]TKIP: Temporal Key Integrity Protocol [IEEE 802.11i/D7.0]",
    "        [2]CCMP: AES in Counter mode with CBC-MAC [RFC 3610, IEEE 802.11i/D7.0]",
    "        [3]AUTO: TKIP+CCMP",
    "    proto=default[2:AUTO]",
    "        [0]WPA: [WPA] WPA-TKIP",
    "        [1]RSN: [RSN] WPA2-AES/CCMP",
    "        [2]AUTO: [WPA RSN] WPA-TKIP + WPA2-AES/CCMP",
    "",
    "WPA EAP config:",
    "        reserverd!",
    "",
    "WPS config:",
    "    wps=default[1:PBC]",
    "        [0]master mode: create pin code, then use Wi-Fi to connect IPC-wifi",
    "        [1]PBC mode: PushButton Connection mode",
    "        [2]slave mode: use Wi-Fi pin code and AP name to connect to Wi-Fi",
    "        apname=default[Brevantis-Test]",
    "            apname: It's used to get Wi-Fi MAC to run WPS",
    "        pincode=default[40719263]",
    "            pincode: Wi-Fi WPS pin code value!",
    "",
    "WIFI use example:",
    "Encryp=[0:OPEN], command line:",
    "    1: manage mode",
    "        debug -M wifi -e 0 -m 0 --ssid [...] ",
    "    2: ad-hoc mode",
    "        debug -M wifi -e 0 -m 1 -c [n(1-14)] --ssid [...] ",
    "Encryp=[1:WEP], command line:",
    "    1: manage mode",
    "        debug -M wifi -e 1 -m 0 --ssid [...] --select 0 --key0 [...] ",
    "    2: ad-hoc mode",
    "        debug -M wifi -e 1 -m 1 -c [n(1-14)] --ssid [...] --select 0 --key0 [...] ",
    "Encryp=[2:WPA-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 2 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "    4: ad-hoc mode + TKIP",
    "        debug -M wifi -e 2 -m 1 -c [n(1-14)] --ssid [...] --psk [...] --pairwise 1 --group 1 (a cell runs as 5) ",
    "    5: ad-hoc mode + CCMP/AES",
    "        debug -M wifi -e 3 -m 1 -c [n(1-14)] --ssid [...] --psk [...] --pairwise 2 --group 0 ",
    "Encryp=[3:WPA2-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 3 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "Encryp=[4:WPA+WPA2-PSK], command line:",
    "    1: manage mode + TKIP",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 1 ",
    "    2: manage mode + CCMP/AES",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 2 ",
    "    3: manage mode + TKIP+CCMP/AES",
    "        debug -M wifi -e 4 -m 0 --ssid [...] --psk [...] --pairwise 3 ",
    "Encryp=[8:WPS], command line:",
    "    1: master mode, use Wi-Fi to connect IPC-wifi",
    "        debug -M wifi --wps 0 ",
    "    2: PushButton mode, use Wi-Fi WPS-Button and IPC WPS-Button",
    "        debug -M wifi --wps 1 ",
    "    3: slave mode, IPC-wifi connect to Wi-Fi",
    "        debug -M wifi --wps 2 --apname [...] --pincode [...] ",
};

static int wifi_usage(void)
{
    module_print_usage(WIFI_ID, wifi_options, wifi_help, ARRAY_SIZE(wifi_help));
    for (const char *line : wifi_pages)
        OSA_puts(line);
    return 0;
}

static debug_module wifi_module = {"wifi", WIFI_ID, wifi_test_main, wifi_usage, NULL};

MODULE_REGISTER(wifi_module)
