// pt: turns its options into one request for the pan-tilt board's
// peripheral-control process and leaves it in that process's shared-memory
// segment. Drives no hardware itself and reads no answer back.
//
// extdrv (bv_extdrv.cpp) is pt's twin: the option table, help table, parser
// and usage here serve both, run with the profile of the module at hand
// (number, help text of the -M row, segment key, record, unit name).
#include "debug_module.h"
#include "osa.h"
#include "peripheral_request.h"

#include <getopt.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char OSA_UNIT[] = "bv_pt";

enum { PT_ID = 20 };

// The record starts at zero in each process; only the parser writes it.
static peripheral_request pt_request;

static const pt_profile pt_twin = {PT_ID, OSA_UNIT, "module name: pt", PT_REQUEST_KEY, &pt_request};

// Every option takes a value. G and Y are missing on purpose: "set wie HID"
// and "set wie PID" are reached by their long names only. z has no long name.
static const char PT_SHORT_OPTIONS[] =
    "M:w:q:a:f:d:c:p:t:s:i:o:e:l:r:u:n:g:k:b:j:x:y:W:O:V:P:F:L:E:T:R:z:m:A:";

static const struct option pt_options[] = {
    {"module", required_argument, NULL, 'M'},
    {"titl_i", required_argument, NULL, 'w'},
    {"pan_i", required_argument, NULL, 'q'},
    {"heat", required_argument, NULL, 'a'},
    {"fan", required_argument, NULL, 'f'},
    {"defog", required_argument, NULL, 'd'},
    {"temp", required_argument, NULL, 'c'},
    {"pan_param", required_argument, NULL, 'p'},
    {"tilt_param", required_argument, NULL, 't'},
    {"set_step", required_argument, NULL, 's'},
    {"query_info", required_argument, NULL, 'i'},
    {"set_corrent", required_argument, NULL, 'o'},
    {"set_temp_ctl", required_argument, NULL, 'e'},
    {"set_heat_open_value", required_argument, NULL, 'l'},
    {"set_heat_close_value", required_argument, NULL, 'r'},
    {"set_fan_open_value", required_argument, NULL, 'u'},
    {"set_fan_close_value", required_argument, NULL, 'n'},
    {"set_current_up_value", required_argument, NULL, 'g'},
    {"set_current_down_value", required_argument, NULL, 'k'},
    {"set pwm_run", required_argument, NULL, 'b'},
    {"set pwm_idle", required_argument, NULL, 'j'},
    {"set obj_dis", required_argument, NULL, 'x'},
    {"set image_dis", required_argument, NULL, 'y'},
    {"query_wiper_info", required_argument, NULL, 'W'},
    {"calibration kv500_optical_sys", required_argument, NULL, 'O'},
    {"query_wiper_ver", required_argument, NULL, 'V'},
    {"query_wiper_sensor_vsn", required_argument, NULL, 'P'},
    {"set LIGHT1", required_argument, NULL, 'F'},
    {"set LIGHT2", required_argument, NULL, 'L'},
    {"SELECT HAVE OR NONE ENDLINE", required_argument, NULL, 'E'},
    {"set wie HID", required_argument, NULL, 'G'},
    {"set wie PID", required_argument, NULL, 'Y'},
    {"set ext LIGHT", required_argument, NULL, 'T'},
    {"test wiegand mode", required_argument, NULL, 'R'},
    {"control motor run step", required_argument, NULL, 'm'},
    {"test rs485", required_argument, NULL, 'A'},
    {NULL, 0, NULL, 0},
};
// Row 0's text is the profile's; the rows from -V on have no text, so they
// print as the option alone.
static const help_entry pt_help[] = {
    {"module", "module name: pt"},
    {"0~31", "0 is min   ,31is max"},
    {"0~31", "0 is min   ,31is max"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~1", "0 is close ,1 is open default:0"},
    {"0~10000", "the time_cnt for printf temp(1s)"},
    {"0~10000", "the pan_step will be set default:0"},
    {"0~10000", "the tilt_step will be set default:0"},
    {"00~11", "XY == (X=P_dir Y=T_dir) set dir and start run step"},
    {"1~10", "1==(version) 2==(oc_off) 3 = (oc_value) 4==(temp_Info)"},
    {"0~1", "0 = open 1= close"},
    {"0~1", "0 = open 1= close"},
    {"0~50", "default(28)"},
    {"0~50", "default(30)"},
    {"0~100", "real value need cut off 50 ; default(-5)"},
    {"0~100", "real value need cut off 50 ; default(-8)"},
    {"0~100", "real value need cut off 50 ; default(-5)"},
    {"0~100", "real value need cut off 50 ; default(-10)"},
    {"1200~2000", "set electric,current running"},
    {"1200~2000", "set electric,current idle"},
    {"0~10000", "set image_dis"},
    {"1200~2000", "setobj_dis"},
    {"0-1", "set test wiegand mode"},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
    {"", ""},
};
static_assert(OPTION_ROWS(pt_options) == ARRAY_SIZE(pt_help), "one help row per option");
static_assert(ARRAY_SIZE(pt_help) == 36, "the usage prints 36 rows");

/* ---- what each option does ------------------------------------------------ */

// Values the parser keeps to itself until the whole line is read.
struct pt_locals {
    int32_t pan_steps;
    int32_t tilt_steps;
    int32_t step_dir; // -1: no step run asked for
    int32_t pwm_run;
    int32_t pwm_idle;
    int pairs[5]; // occurrences of each pair's members, by pt_pair
};

// Requests made of two options; checked after parsing in this order.
enum pt_pair { PAIR_HEATER, PAIR_FAN, PAIR_LIGHT, PAIR_WIEGAND, PAIR_CURRENT, PAIR_COUNT };

static const struct {
    int32_t cmd;
    int32_t sub; // param1 of the request; 0: param1 is the first member's value
} pt_pairs[PAIR_COUNT] = {{109, 5}, {109, 6}, {116, 0}, {118, 0}, {109, 7}};
static_assert(ARRAY_SIZE(pt_pairs) == ARRAY_SIZE(pt_locals().pairs), "one counter per pair");

enum pt_kind {
    PT_SINGLE,  // the option is the whole request: cmd = code, param1 = value
    PT_SETTING, // code 109 with sub-command code, param2 = value
    PT_PAIR,    // one member of pair code: its value goes to param
    PT_LOCAL,   // a value of the parser's own
    PT_MOTOR,   // -m with four values
};

static const int32_t CMD_STEP_RUN = 104;
static const int32_t CMD_SETTING = 109;
static const int32_t CMD_MOTOR_RUN = 122;
static const int32_t SUB_PWM = 4;
static const int32_t STEP_DIR_BIT = 0x800000;
// The program name, -M, the module name, -m and its four values.
static const int MOTOR_RUN_WORDS = 8;

struct pt_action {
    int letter;
    pt_kind kind;
    int32_t code;
    int32_t peripheral_request::*param;
    int32_t pt_locals::*local;
    const char *motor; // singles that echo the motor current they set
};

static constexpr pt_action act_single(int letter, int32_t cmd, const char *motor = NULL)
{
    return {letter, PT_SINGLE, cmd, NULL, NULL, motor};
}
static constexpr pt_action act_setting(int letter, int32_t sub)
{
    return {letter, PT_SETTING, sub, NULL, NULL, NULL};
}
static constexpr pt_action act_pair(int letter, pt_pair pair, int32_t peripheral_request::*param)
{
    return {letter, PT_PAIR, pair, param, NULL, NULL};
}
static constexpr pt_action act_local(int letter, int32_t pt_locals::*local)
{
    return {letter, PT_LOCAL, 0, NULL, local, NULL};
}

static const pt_action pt_actions[] = {
    act_single('w', 111, "tile_motor"),
    act_single('q', 110, "pan_motor"),
    act_single('a', 101),
    act_single('f', 100),
    act_single('d', 102),
    act_single('c', 103),
    act_local('p', &pt_locals::pan_steps),
    act_local('t', &pt_locals::tilt_steps),
    act_local('s', &pt_locals::step_dir),
    act_single('i', 107),
    act_setting('o', 1),
    act_setting('e', 3),
    act_pair('l', PAIR_HEATER, &peripheral_request::param2),
    act_pair('r', PAIR_HEATER, &peripheral_request::param3),
    act_pair('u', PAIR_FAN, &peripheral_request::param2),
    act_pair('n', PAIR_FAN, &peripheral_request::param3),
    act_pair('g', PAIR_CURRENT, &peripheral_request::param2),
    act_pair('k', PAIR_CURRENT, &peripheral_request::param3),
    act_local('b', &pt_locals::pwm_run),
    act_local('j', &pt_locals::pwm_idle),
    act_single('x', 105),
    act_single('y', 106),
    act_single('W', 112),
    act_single('O', 113),
    act_single('V', 114),
    act_single('P', 115),
    act_pair('F', PAIR_LIGHT, &peripheral_request::param1),
    act_pair('L', PAIR_LIGHT, &peripheral_request::param2),
    act_single('E', 117),
    act_pair('G', PAIR_WIEGAND, &peripheral_request::param1),
    act_pair('Y', PAIR_WIEGAND, &peripheral_request::param2),
    act_single('T', 119),
    act_single('R', 120),
    act_single('z', 121),
    {'m', PT_MOTOR, CMD_MOTOR_RUN, NULL, NULL, NULL},
    act_single('A', 123),
};
// Every option but -M acts; z has no row of its own.
static_assert(ARRAY_SIZE(pt_actions) == OPTION_ROWS(pt_options), "one action per option");

static const pt_action *pt_find_action(int letter)
{
    for (const pt_action &act : pt_actions)
        if (act.letter == letter)
            return &act;
    return NULL;
}

static void pt_form(peripheral_request *req, int32_t cmd)
{
    req->valid = 1;
    req->status = 0;
    req->cmd = cmd;
}

// The values of -m: its own and the last three words of the line, read as
// atoi() does; NULL, or the first that does not fit 32 bits.
static const char *pt_motor_values(const char *value, int argc, char **argv, int32_t n[4])
{
    const char *words[4] = {value, argv[argc - 3], argv[argc - 2], argv[argc - 1]};
    for (int i = 0; i < 4; i++)
        if (!option_decimal(words[i], &n[i]))
            return words[i];
    return NULL;
}

// Applies one option; NULL, or the value that does not fit 32 bits (read
// as atoi() does, 4294967327 would be 31): nothing is applied then.
static const char *pt_apply(const pt_action *act, peripheral_request *req, pt_locals *locals,
                            const char *value, int argc, char **argv)
{
    int32_t n;
    if (act->kind != PT_MOTOR && !option_decimal(value, &n))
        return value;
    switch (act->kind) {
    case PT_SINGLE:
        pt_form(req, act->code);
        req->param1 = n;
        if (act->motor != NULL)
            OSA_printfUnlocked("\n current of %s=%d \n", act->motor, req->param1);
        break;
    case PT_SETTING:
        pt_form(req, CMD_SETTING);
        req->param1 = act->code;
        req->param2 = n;
        break;
    case PT_PAIR:
        req->*act->param = n;
        locals->pairs[act->code]++;
        break;
    case PT_LOCAL:
        locals->*act->local = n;
        break;
    case PT_MOTOR: {
        // The other three values are the last words of the line.
        if (argc != MOTOR_RUN_WORDS)
            break;
        int32_t values[4];
        const char *bad = pt_motor_values(value, argc, argv, values);
        if (bad != NULL)
            return bad;
        pt_form(req, act->code);
        req->param1 = values[0];
        req->param2 = values[1];
        req->param3 = values[2];
        req->param4 = values[3];
        break;
    }
    }
    return NULL;
}

// Requests formed by several options, each overriding what came before.
static void pt_finish(peripheral_request *req, const pt_locals *locals)
{
    int32_t dir = locals->step_dir;
    if (dir != -1) {
        // XY: X flags the pan count, Y the tilt count.
        pt_form(req, CMD_STEP_RUN);
        req->param1 = locals->pan_steps | (dir < -9 || dir > 9 ? STEP_DIR_BIT : 0);
        req->param2 = locals->tilt_steps | (dir % 10 != 0 ? STEP_DIR_BIT : 0);
    }
    for (int i = 0; i < PAIR_COUNT; i++) {
        if (locals->pairs[i] != 2)
            continue;
        pt_form(req, pt_pairs[i].cmd);
        if (pt_pairs[i].sub != 0)
            req->param1 = pt_pairs[i].sub;
    }
    if (locals->pwm_run != 0 && locals->pwm_idle != 0) {
        pt_form(req, CMD_SETTING);
        req->param1 = SUB_PWM;
        req->param2 = locals->pwm_run & 0xFF;
        req->param3 = (locals->pwm_run >> 8) & 0xFF;
        req->param4 = locals->pwm_idle & 0xFF;
        req->param5 = (locals->pwm_idle >> 8) & 0xFF;
    }
}

/* ---- parser, run and usage of both twins ---------------------------------- */

int pt_init_param(const pt_profile *profile, int argc, char **argv)
{
    pt_locals locals = {0, 0, -1, 0, 0, {0, 0, 0, 0, 0}};
    int error = 0;
    int opt;

    opterr = 0; // the one message below instead of getopt's
    optind = 0; // a scan of its own, whatever ran before
    while ((opt = getopt_long(argc, argv, PT_SHORT_OPTIONS, pt_options, NULL)) != -1) {
        if (opt == 'M')
            continue;
        const pt_action *act = pt_find_action(opt);
        if (act == NULL) {
            // The report names the twin's own unit.
            OSA_errorPrefix(profile->unit, __func__, __LINE__);
            fprintf(stderr, "Unknow option\n");
            error = 1;
            break;
        }
        const char *bad = pt_apply(act, profile->request, &locals, optarg, argc, argv);
        if (bad != NULL) {
            OSA_errorPrefix(profile->unit, __func__, __LINE__);
            fprintf(stderr, "Number out of range for -%c: %s\n", opt, bad);
            error = 1;
            break;
        }
    }
    pt_finish(profile->request, &locals);
    if (error) {
        pt_profile_usage(profile);
        exit(-1);
    }
    return 0;
}

int pt_profile_run(const pt_profile *profile, int argc, char **argv)
{
    pt_init_param(profile, argc, argv);
    // Published even when no request formed: valid 0 tells the reader so.
    return publish_request(profile->key, sizeof *profile->request, profile->request);
}

int pt_profile_usage(const pt_profile *profile)
{
    help_entry help[ARRAY_SIZE(pt_help)];
    memcpy(help, pt_help, sizeof help);
    help[0].text = profile->module_help;
    module_print_usage(profile->id, pt_options, help, ARRAY_SIZE(help));
    return 0;
}

/* ---- pt ------------------------------------------------------------------- */

static int pt_run(int argc, char **argv) { return pt_profile_run(&pt_twin, argc, argv); }

static int pt_usage(void) { return pt_profile_usage(&pt_twin); }

static debug_module pt_module = {"pt", PT_ID, pt_run, pt_usage, NULL};

MODULE_REGISTER(pt_module)
