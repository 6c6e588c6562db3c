// Wi-Fi library of the camera on wpa_supplicant's control interface
// (wpa_ctrl). Each call opens a connection to the interface's control
// socket, exchanges requests with a bounded wait for every answer, and
// closes it again; a request that times out ends the call, so a late
// answer can never be taken for the answer to the next request.
#include "bvwifi.h"

#include "board_file.h"

#include <wpa_ctrl.h>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <time.h>
#include <unistd.h>

// ---- paths and limits --------------------------------------------------------

static const char CTRL_DIR[] = WIFI_CTRL_DIR;
static const char LOCK_FILE[] = WIFI_LOCK_FILE;

enum {
    PATH_SIZE = 128,
    REPLY_SIZE = 4096, // wpa_supplicant's own limit for one answer
    COMMAND_SIZE = 256,
    VALUE_SIZE = 160, // one network field's value: a quoted ssid at most
    FIELD_MAX = 12,
    NETWORK_MAX = 256, // networks the old configuration may hold
    BSS_READ_MAX = 4 * WIFI_SCAN_MAX,
    SECURITY_SIZE = 64,
    SSID_TEXT_SIZE = 4 * 32 + 1, // a 32-byte ssid with every byte escaped
    LOCK_POLL_MS = 20,           // between tries of a lock another process holds
};

// The fields a scan list reads of each BSS: id, bssid, freq, level, flags
// and ssid (WPA_BSS_MASK_* of wpa_ctrl.h).
static const unsigned int BSS_MASK = 0x1 | 0x2 | 0x4 | 0x80 | 0x800 | 0x1000;

static const char EVENT_SCAN_RESULTS[] = "CTRL-EVENT-SCAN-RESULTS";
static const char EVENT_SCAN_FAILED[] = "CTRL-EVENT-SCAN-FAILED";

// The interface of the calls without a record: the last one configured.
static char current_ifname[WIFI_TEXT_SIZE] = WIFI_DEFAULT_IFNAME;

// ---- record values as wpa_supplicant names them ----------------------------

static const char *const KEY_MGMT_NAMES[] = {
    "NONE", "IEEE8021X", "WPA-PSK", "WPA-EAP", "WPA-NONE", "NONE IEEE8021X WPA-PSK WPA-EAP"};
static const char *const AUTH_ALG_NAMES[] = {"OPEN", "SHARED", "LEAP"};
static const char *const GROUP_NAMES[] = {
    "CCMP", "TKIP", "WEP104", "WEP40", "WEP104 WEP40", "CCMP TKIP", "CCMP TKIP WEP104 WEP40"};
static const char *const PAIRWISE_NAMES[] = {"NONE", "TKIP", "CCMP", "CCMP TKIP"};
static const char *const PROTO_NAMES[] = {"WPA", "RSN", "WPA RSN"};
static const char *const ENCRYPTION_NAMES[] = {"open",     "WEP",          "WPA-PSK",
                                               "WPA2-PSK", "WPA+WPA2-PSK", "WPA-EAP",
                                               "WPA2-EAP", "WPA+WPA2-EAP", "WPS"};

#define COUNT(a) (sizeof(a) / sizeof((a)[0]))

// The key managements an encryption can work with; any other value of the
// record's key_mgmt gives way to the first one (the record's default,
// WPA-PSK, would leave an open or WEP network unusable).
static const struct {
    unsigned int usable; // bit n: key_mgmt n
} KEY_MGMT_FOR[] = {
    {1u << 0 | 1u << 5},           // open: NONE, all
    {1u << 0 | 1u << 5},           // WEP: NONE, all
    {1u << 2 | 1u << 4 | 1u << 5}, // WPA-PSK: WPA-PSK, WPA-NONE, all
    {1u << 2 | 1u << 4 | 1u << 5}, // WPA2-PSK
    {1u << 2 | 1u << 4 | 1u << 5}, // WPA+WPA2-PSK
};
static const unsigned int KEY_MGMT_NATURAL[] = {0, 0, 2, 2, 2};

// ---- reports -------------------------------------------------------------------

struct wifi_ctrl {
    struct wpa_ctrl *ctrl;
    char path[PATH_SIZE];
};

static void report(const wifi_ctrl *c, const char *fmt, ...) __attribute__((format(printf, 2, 3)));
static void report(const wifi_ctrl *c, const char *fmt, ...)
{
    char text[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(text, sizeof text, fmt, ap);
    va_end(ap);
    fprintf(stderr, "bvwifi: %s: %s\n", c->path, text);
}

// The library's own lines for the user, on standard output.
static void say(const char *fmt, ...) __attribute__((format(printf, 1, 2)));
static void say(const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    vfprintf(stdout, fmt, ap);
    va_end(ap);
    fflush(stdout);
}

// TEXT up to the first of the characters STOPS, cut to fit BUF, for a report.
static const char *copy_until(const char *text, const char *stops, char *buf, size_t size)
{
    size_t len = strcspn(text, stops);
    if (len >= size)
        len = size - 1;
    memcpy(buf, text, len);
    buf[len] = '\0';
    return buf;
}

// TEXT (LEN bytes) for the console: a control byte or one past ASCII
// (an escape sequence in an SSID, say) shown as \xNN, as wpa_supplicant
// itself shows them, so that no value can drive the terminal.
static const char *shown(const char *text, size_t len, char *buf, size_t size)
{
    size_t used = 0;
    for (size_t i = 0; i < len && text[i] != '\0' && used + 5 <= size; i++) {
        unsigned char ch = (unsigned char)text[i];
        if (ch < 0x20 || ch >= 0x7f)
            used += (size_t)snprintf(buf + used, size - used, "\\x%02x", ch);
        else
            buf[used++] = (char)ch;
    }
    buf[used] = '\0';
    return buf;
}

// An answer as one line for a report: up to its first newline.
static const char *first_line(const char *reply, char *buf, size_t size)
{
    return copy_until(reply, "\n", buf, size);
}

// The first word of a request, for reports: values (keys, pins) stay out.
static const char *verb(const char *cmd, char *buf, size_t size)
{
    return copy_until(cmd, " ", buf, size);
}

// ---- the connection --------------------------------------------------------------

static long now_ms(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

// An interface name is one path component of the control directory.
static int ifname_ok(const char *name)
{
    size_t len = strnlen(name, WIFI_TEXT_SIZE);
    return len > 0 && len < WIFI_TEXT_SIZE && strchr(name, '/') == NULL && strcmp(name, ".") != 0 &&
           strcmp(name, "..") != 0;
}

static int ctrl_open(wifi_ctrl *c, const char *ifname)
{
    c->ctrl = NULL;
    if (!ifname_ok(ifname)) {
        snprintf(c->path, sizeof c->path, "%s", CTRL_DIR);
        report(c, "'%.*s' is not an interface name", WIFI_TEXT_SIZE - 1, ifname);
        return -1;
    }
    snprintf(c->path, sizeof c->path, "%s/%s", CTRL_DIR, ifname);
    errno = 0;
    c->ctrl = wpa_ctrl_open(c->path);
    if (c->ctrl == NULL) {
        report(c, "cannot connect to wpa_supplicant: %s", strerror(errno != 0 ? errno : EIO));
        return -1;
    }
    return 0;
}

static void ctrl_close(wifi_ctrl *c)
{
    if (c->ctrl != NULL)
        wpa_ctrl_close(c->ctrl);
    c->ctrl = NULL;
}

// Waits at most TIMEOUT_MS for one message: an answer, or with EVENTS an
// event ("<level>TEXT"). Returns its length, the text terminated in BUF;
// -1 for a message too long for BUF, NOTHING_CAME when none was read (both
// reported). A signal ends the wait: the user asked the tool to stop.
enum { NOTHING_CAME = -2 };
static int ctrl_wait(wifi_ctrl *c, const char *what, char *buf, size_t size, int timeout_ms,
                     int events)
{
    int fd = wpa_ctrl_get_fd(c->ctrl);
    long deadline = now_ms() + timeout_ms;
    for (;;) {
        long left = deadline - now_ms();
        if (left <= 0) {
            report(c, "no %s within %d ms", what, timeout_ms);
            return NOTHING_CAME;
        }
        struct pollfd p = {fd, POLLIN, 0};
        int ready = poll(&p, 1, (int)left);
        if (ready < 0) {
            if (errno == EINTR)
                report(c, "interrupted while waiting for %s", what);
            else
                report(c, "cannot wait for %s: %s", what, strerror(errno));
            return NOTHING_CAME;
        }
        if (ready == 0)
            continue;
        // MSG_TRUNC: the datagram's real length, to tell a cut answer.
        ssize_t len = recv(fd, buf, size - 1, MSG_TRUNC);
        if (len < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            report(c, "cannot read %s: %s", what, strerror(errno));
            return NOTHING_CAME;
        }
        if ((size_t)len > size - 1) {
            report(c, "%s is %zd bytes long, more than the %zu bytes read", what, len, size - 1);
            return -1;
        }
        buf[len] = '\0';
        if (!events && len > 0 && buf[0] == '<')
            continue; // an event on a connection that did not ask for them
        return (int)len;
    }
}

// A request whose answer never came may still be run: wpa_supplicant takes
// the requests queued on its socket in order whenever it goes on (one that
// was stopped, or stalled), long after the call has given up. UNDO is
// queued right behind CMD, so that CMD, if it runs late, is undone at once
// instead of taking effect unseen.
static void queue_undo(wifi_ctrl *c, const char *cmd, const char *undo)
{
    char name[32], undo_name[32];
    verb(cmd, name, sizeof name);
    if (send(wpa_ctrl_get_fd(c->ctrl), undo, strlen(undo), 0) < 0)
        report(c, "cannot queue %s behind %s: %s; %s may still take effect",
               verb(undo, undo_name, sizeof undo_name), name, strerror(errno), name);
    else
        report(c, "%s may still run later: queued %s behind it, to undo it", name, undo);
}

// Sends CMD and reads its answer into REPLY. Returns the answer's length or
// -1 (reported). UNDO, when given, is queued behind a CMD whose answer did
// not come.
static int ctrl_request(wifi_ctrl *c, const char *cmd, char *reply, size_t size,
                        const char *undo = NULL)
{
    char name[32], what[64];
    verb(cmd, name, sizeof name);
    if (send(wpa_ctrl_get_fd(c->ctrl), cmd, strlen(cmd), 0) < 0) {
        report(c, "cannot send %s: %s", name, strerror(errno));
        return -1;
    }
    snprintf(what, sizeof what, "answer to %s", name);
    int len = ctrl_wait(c, what, reply, size, WIFI_REPLY_TIMEOUT_MS, 0);
    if (len == NOTHING_CAME && undo != NULL)
        queue_undo(c, cmd, undo);
    return len < 0 ? -1 : len;
}

// 1 when CMD was answered "OK", 0 for another answer (kept in REPLY), -1
// without an answer (reported; UNDO queued as by ctrl_request).
static int ctrl_ok(wifi_ctrl *c, const char *cmd, char *reply, size_t size, const char *undo = NULL)
{
    if (ctrl_request(c, cmd, reply, size, undo) < 0)
        return -1;
    return strncmp(reply, "OK", 2) == 0 && (reply[2] == '\n' || reply[2] == '\0');
}

// ---- the configuration lock --------------------------------------------------------

enum { LOCK_REFUSED = -2 };

// The signals that ask the program to stop, unless it ignores them.
static void stop_signals(sigset_t *set)
{
    static const int signals[] = {SIGINT, SIGQUIT, SIGTERM, SIGHUP};
    sigemptyset(set);
    for (int sig : signals) {
        struct sigaction sa;
        if (sigaction(sig, NULL, &sa) == 0 && sa.sa_handler != SIG_IGN)
            sigaddset(set, sig);
    }
}

// Takes the lock file that serialises configuration changes between
// processes: of two at once, one can take the other's new network for an
// old one and remove it, and both report success with one network left.
// The file is opened as /tmp asks (board_file_open: no link, no FIFO, no
// other user's file) and readable by root alone, so that no other user can
// hold it. Waits at most WIFI_LOCK_TIMEOUT_MS for a process that holds it,
// named as the kernel names it; a signal (Ctrl-C) ends the wait. The stop
// signals stay blocked from each try until the pause after it has begun, so
// that one arriving in between ends the pause instead of being lost.
// Returns the locked descriptor; -1 when the lock file cannot be used
// (reported: the change goes ahead without it), or LOCK_REFUSED when the
// change must not go ahead (reported).
static int config_lock(wifi_ctrl *c)
{
    char why[BOARD_FILE_TEXT_SIZE], holder[BOARD_FILE_TEXT_SIZE];
    int fd = board_file_open(LOCK_FILE, O_RDWR | O_CREAT, 0600, why, sizeof why);
    if (fd < 0) {
        report(c, "cannot open %s: %s: configuring without the lock", LOCK_FILE, why);
        return -1;
    }
    sigset_t stops, old;
    stop_signals(&stops);
    pthread_sigmask(SIG_BLOCK, &stops, &old);
    long deadline = now_ms() + WIFI_LOCK_TIMEOUT_MS;
    int result = fd;
    for (int waited = 0; lockf(fd, F_TLOCK, 0) != 0; waited = 1) {
        if (errno != EACCES && errno != EAGAIN) {
            report(c, "cannot lock %s: %s: configuring without the lock", LOCK_FILE,
                   strerror(errno));
            result = -1;
            break;
        }
        long left = deadline - now_ms();
        if (left <= 0) {
            board_lock_holder(fd, holder, sizeof holder);
            report(c, "%s still held by %s after %d ms: nothing configured", LOCK_FILE, holder,
                   WIFI_LOCK_TIMEOUT_MS);
            result = LOCK_REFUSED;
            break;
        }
        if (!waited) {
            board_lock_holder(fd, holder, sizeof holder);
            report(c, "waiting for %s: %s is configuring the Wi-Fi", LOCK_FILE, holder);
        }
        long pause_ms = left < LOCK_POLL_MS ? left : (long)LOCK_POLL_MS;
        struct timespec pause = {0, pause_ms * 1000000L};
        if (ppoll(NULL, 0, &pause, &old) < 0 && errno == EINTR) {
            report(c, "interrupted while waiting for %s: nothing configured", LOCK_FILE);
            result = LOCK_REFUSED;
            break;
        }
    }
    pthread_sigmask(SIG_SETMASK, &old, NULL);
    if (result < 0)
        close(fd);
    return result;
}

// Closing the descriptor releases the lock.
static void config_unlock(int fd)
{
    if (fd >= 0)
        close(fd);
}

// ---- answers of the key=value kind ---------------------------------------------

// Copies the value of "KEY=value" (a line of TEXT) into OUT; 0, or -1 when
// there is no such line.
static int kv_get(const char *text, const char *key, char *out, size_t size)
{
    size_t key_len = strlen(key);
    for (const char *line = text; *line != '\0';) {
        size_t len = strcspn(line, "\n");
        if (len > key_len && strncmp(line, key, key_len) == 0 && line[key_len] == '=') {
            size_t value_len = len - key_len - 1;
            if (value_len >= size)
                value_len = size - 1;
            memcpy(out, line + key_len + 1, value_len);
            out[value_len] = '\0';
            return 0;
        }
        line += len;
        if (*line == '\n')
            line++;
    }
    if (size > 0)
        out[0] = '\0';
    return -1;
}

// A decimal number that is the whole of TEXT (a trailing newline allowed).
static int parse_int(const char *text, long *value)
{
    char *end;
    errno = 0;
    long v = strtol(text, &end, 10);
    if (end == text || errno != 0 || (*end != '\0' && strcmp(end, "\n") != 0))
        return -1;
    *value = v;
    return 0;
}

static int is_bssid(const char *text)
{
    for (int i = 0; i < 17; i++) {
        char ch = text[i];
        int ok = (i % 3 == 2) ? ch == ':'
                              : ((ch >= '0' && ch <= '9') || (ch >= 'a' && ch <= 'f') ||
                                 (ch >= 'A' && ch <= 'F'));
        if (!ok)
            return 0;
    }
    return text[17] == '\0';
}

// ---- the record as network fields ------------------------------------------------

struct net_field {
    const char *name;
    char value[VALUE_SIZE];
    int secret; // kept out of reports
};

struct net_fields {
    int count;
    net_field field[FIELD_MAX];
};

static void add_field(net_fields *nf, const char *name, int secret, const char *fmt, ...)
    __attribute__((format(printf, 4, 5)));
static void add_field(net_fields *nf, const char *name, int secret, const char *fmt, ...)
{
    if (nf->count >= FIELD_MAX)
        return;
    net_field *f = &nf->field[nf->count++];
    f->name = name;
    f->secret = secret;
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(f->value, sizeof f->value, fmt, ap);
    va_end(ap);
}

// A text field of the record, bounded by its size whatever its contents.
static int text_len(const char *field, size_t size)
{
    return (int)strnlen(field, size - 1);
}

// The frequency of a channel field: channels 1..13 are 5 MHz apart from
// 2412, 14 is 2484; a value above 14 is a frequency already. 0: none.
static unsigned int channel_mhz(uint32_t channel)
{
    if (channel == 0)
        return 0;
    if (channel == 14)
        return 2484;
    if (channel < 14)
        return 2407 + 5 * channel;
    return channel;
}

// wpa_supplicant saves a text field as NAME="TEXT" on a line of its
// configuration file and, reading it back, takes a '#' that stands after
// an even number of quotes (counting the opening one) for the start of a
// comment: such a text comes back cut (ssid="Lab" #"" as Lab), or makes
// the file unreadable (psk="Pa"ss#word-2024": a passphrase of 2
// characters), and wpa_supplicant does not start with it. Texts with a
// control byte, or one past ASCII, it saves in hexadecimal; an SSID then
// comes back whole (a passphrase cannot hold them). 1 when TEXT (LEN bytes)
// comes back whole.
static int saved_whole(const char *text, int len, int hex_saved)
{
    for (int i = 0; hex_saved && i < len; i++)
        if ((unsigned char)text[i] < 0x20 || (unsigned char)text[i] >= 0x7f)
            return 1;
    int inside = 1; // after the opening quote
    for (int i = 0; i < len; i++) {
        unsigned char ch = (unsigned char)text[i];
        if (ch == '"')
            inside = !inside;
        else if (ch == '#' && !inside)
            return 0;
    }
    return 1;
}

// Refuses, before anything changes, a text field wpa_supplicant could not
// read back from its own file after a restart (saved_whole). 0, or -1
// (reported, the text too unless it is SECRET).
static int check_saved(const wifi_ctrl *c, const char *name, const char *text, int len, int secret,
                       int hex_saved)
{
    char text_shown[4 * WIFI_SSID_SIZE + 1], value[sizeof text_shown + 2];
    if (saved_whole(text, len, hex_saved))
        return 0;
    if (secret)
        snprintf(value, sizeof value, "(value not shown)");
    else
        snprintf(value, sizeof value, "\"%s\"",
                 shown(text, (size_t)len, text_shown, sizeof text_shown));
    report(c,
           "%s %s would not come back whole from wpa_supplicant's configuration file after a "
           "restart: a '#' after an even number of quotes starts a comment there: nothing "
           "configured",
           name, value);
    return -1;
}

// A WEP key: hexadecimal digits written bare (10 or 26 of them), any other
// key as quoted text. The selected key follows the record's keytype. -1
// (reported) for a key that wpa_supplicant would refuse or could not read
// back: a bare one with other characters than hexadecimal digits.
static int add_wep_key(const wifi_ctrl *c, net_fields *nf, const char *name, const char *key,
                       int hex)
{
    int len = text_len(key, WIFI_KEY_SIZE);
    if (len == 0)
        return 0;
    if (!hex) {
        if (check_saved(c, name, key, len, 1, 1) != 0)
            return -1;
        add_field(nf, name, 1, "\"%.*s\"", len, key);
        return 0;
    }
    if ((int)strspn(key, "0123456789abcdefABCDEF") < len) {
        report(c,
               "%s (value not shown) is taken as hexadecimal (keytype 0, or 10 or 26 "
               "characters) but holds other characters than 0-9 and a-f: nothing configured",
               name);
        return -1;
    }
    add_field(nf, name, 1, "%.*s", len, key);
    return 0;
}

static int check_range(const wifi_ctrl *c, const char *name, uint32_t value, size_t count)
{
    if (value < count)
        return 0;
    report(c, "record field %s is %u, not one of 0..%zu: nothing configured", name,
           (unsigned int)value, count - 1);
    return -1;
}

// wpa_supplicant runs an ad-hoc WPA-PSK cell as RSN, with CCMP for both
// keys (IBSS RSN), whatever the network says: the network is written as the
// cell runs, so that its status and the saved file tell the truth, and a
// record that asked for something else is told what it got.
static void adhoc_rsn(const wifi_ctrl *c, uint32_t *proto, uint32_t *pairwise, uint32_t *group)
{
    static const uint32_t RSN = 1, CCMP_PAIRWISE = 2, CCMP_GROUP = 0;
    if (*proto != RSN || *pairwise != CCMP_PAIRWISE || *group != CCMP_GROUP)
        report(c, "an ad-hoc WPA-PSK cell runs as RSN with CCMP keys, not proto %s, pairwise %s, "
                  "group %s",
               PROTO_NAMES[*proto], PAIRWISE_NAMES[*pairwise], GROUP_NAMES[*group]);
    *proto = RSN;
    *pairwise = CCMP_PAIRWISE;
    *group = CCMP_GROUP;
}

// Turns a record of encryption 0..4 into the fields of one network; -1
// (reported) for a record wpa_supplicant cannot be given.
static int build_network(const wifi_ctrl *c, const struct wifi_conf *conf, net_fields *nf)
{
    uint32_t enc = conf->encryption;
    nf->count = 0;
    if (check_range(c, "mode", conf->mode, 2) || check_range(c, "key_mgmt", conf->key_mgmt, 6))
        return -1;
    int ssid_len = text_len(conf->ssid, WIFI_SSID_SIZE);
    if (check_saved(c, "ssid", conf->ssid, ssid_len, 0, 1) != 0)
        return -1;
    add_field(nf, "ssid", 0, "\"%.*s\"", ssid_len, conf->ssid);
    uint32_t key_mgmt = conf->key_mgmt;
    if ((KEY_MGMT_FOR[enc].usable & (1u << key_mgmt)) == 0)
        key_mgmt = KEY_MGMT_NATURAL[enc];
    add_field(nf, "key_mgmt", 0, "%s", KEY_MGMT_NAMES[key_mgmt]);

    if (enc == WIFI_ENC_WEP) {
        if (check_range(c, "wep_select", conf->wep_select, 4) ||
            check_range(c, "auth_alg", conf->auth_alg, COUNT(AUTH_ALG_NAMES)) ||
            check_range(c, "keytype", conf->keytype, 2))
            return -1;
        const char *keys[4] = {conf->key0, conf->key1, conf->key2, conf->key3};
        static const char *const names[4] = {"wep_key0", "wep_key1", "wep_key2", "wep_key3"};
        for (int i = 0; i < 4; i++) {
            int len = text_len(keys[i], WIFI_KEY_SIZE);
            int hex =
                (i == conf->wep_select) ? conf->keytype == WIFI_KEY_HEX : (len == 10 || len == 26);
            if (add_wep_key(c, nf, names[i], keys[i], hex) != 0)
                return -1;
        }
        add_field(nf, "wep_tx_keyidx", 0, "%u", (unsigned int)conf->wep_select);
        add_field(nf, "auth_alg", 0, "%s", AUTH_ALG_NAMES[conf->auth_alg]);
    } else if (enc != WIFI_ENC_OPEN) {
        if (check_range(c, "proto", conf->proto, COUNT(PROTO_NAMES)) ||
            check_range(c, "pairwise", conf->pairwise, COUNT(PAIRWISE_NAMES)) ||
            check_range(c, "group", conf->group, COUNT(GROUP_NAMES)))
            return -1;
        uint32_t proto = conf->proto, pairwise = conf->pairwise, group = conf->group;
        if (conf->mode == WIFI_MODE_ADHOC)
            adhoc_rsn(c, &proto, &pairwise, &group);
        add_field(nf, "proto", 0, "%s", PROTO_NAMES[proto]);
        add_field(nf, "pairwise", 0, "%s", PAIRWISE_NAMES[pairwise]);
        add_field(nf, "group", 0, "%s", GROUP_NAMES[group]);
        int psk_len = text_len(conf->psk, WIFI_PSK_SIZE);
        if (check_saved(c, "psk", conf->psk, psk_len, 1, 0) != 0)
            return -1;
        add_field(nf, "psk", 1, "\"%.*s\"", psk_len, conf->psk);
    }

    if (conf->mode == WIFI_MODE_ADHOC) {
        unsigned int mhz = channel_mhz(conf->channel);
        if (mhz == 0) {
            report(c, "record field channel is 0: an ad-hoc network needs a channel");
            return -1;
        }
        add_field(nf, "mode", 0, "1");
        add_field(nf, "frequency", 0, "%u", mhz);
    }
    return 0;
}

// ---- applying a network atomically -------------------------------------------------

// The ids of a LIST_NETWORKS answer, at most MAX.
static int network_ids(const char *reply, int *ids, int max)
{
    int count = 0;
    const char *line = strchr(reply, '\n'); // after the heading
    while (line != NULL && *++line != '\0' && count < max) {
        long id;
        char *end;
        id = strtol(line, &end, 10);
        if (end != line && *end == '\t')
            ids[count++] = (int)id;
        line = strchr(line, '\n');
    }
    return count;
}

// The ids of the networks wpa_supplicant holds now.
static int list_networks(wifi_ctrl *c, int *ids, int max)
{
    static char reply[REPLY_SIZE + 1];
    if (ctrl_request(c, "LIST_NETWORKS", reply, sizeof reply) < 0)
        return -1;
    return network_ids(reply, ids, max);
}

static void remove_network(wifi_ctrl *c, int id)
{
    char cmd[COMMAND_SIZE], reply[64];
    snprintf(cmd, sizeof cmd, "REMOVE_NETWORK %d", id);
    ctrl_request(c, cmd, reply, sizeof reply);
}

// Sets every field on network ID. 0, or -1 after removing the network again
// (reported with the refused field).
static int set_fields(wifi_ctrl *c, int id, const net_fields *nf)
{
    char cmd[COMMAND_SIZE + VALUE_SIZE], reply[64], line[64];
    for (int i = 0; i < nf->count; i++) {
        const net_field *f = &nf->field[i];
        snprintf(cmd, sizeof cmd, "SET_NETWORK %d %s %s", id, f->name, f->value);
        int ok = ctrl_ok(c, cmd, reply, sizeof reply);
        if (ok == 1)
            continue;
        if (ok == 0) {
            char value[4 * VALUE_SIZE + 1];
            if (f->secret)
                report(c, "wpa_supplicant refused %s (value not shown): %s", f->name,
                       first_line(reply, line, sizeof line));
            else
                report(c, "wpa_supplicant refused %s %s: %s", f->name,
                       shown(f->value, sizeof f->value, value, sizeof value),
                       first_line(reply, line, sizeof line));
        }
        remove_network(c, id);
        return -1;
    }
    return 0;
}

static int apply_network(wifi_ctrl *c, const char *ifname, const struct wifi_conf *conf)
{
    static net_fields nf;
    static int old[NETWORK_MAX];
    char reply[64], line[64], cmd[COMMAND_SIZE];
    if (build_network(c, conf, &nf) != 0)
        return -1;
    int old_count = list_networks(c, old, NETWORK_MAX);
    if (old_count < 0)
        return -1;
    // wpa_supplicant numbers a new network one above the highest it holds:
    // the one an ADD_NETWORK whose answer is lost would make.
    int next_id = 0;
    for (int i = 0; i < old_count; i++)
        if (old[i] >= next_id)
            next_id = old[i] + 1;
    snprintf(cmd, sizeof cmd, "REMOVE_NETWORK %d", next_id);
    if (ctrl_request(c, "ADD_NETWORK", reply, sizeof reply, cmd) < 0)
        return -1;
    long id;
    if (parse_int(reply, &id) != 0 || id < 0) {
        report(c, "unexpected answer to ADD_NETWORK: %s", first_line(reply, line, sizeof line));
        return -1;
    }
    // A new network starts disabled: nothing changes until it is selected.
    if (set_fields(c, (int)id, &nf) != 0) {
        report(c, "the configuration is unchanged");
        return -1;
    }
    snprintf(cmd, sizeof cmd, "SELECT_NETWORK %ld", id);
    int ok = ctrl_ok(c, cmd, reply, sizeof reply);
    if (ok != 1) {
        if (ok == 0)
            report(c, "wpa_supplicant refused to select network %ld: %s", id,
                   first_line(reply, line, sizeof line));
        remove_network(c, (int)id);
        return -1;
    }
    for (int i = 0; i < old_count; i++) {
        snprintf(cmd, sizeof cmd, "REMOVE_NETWORK %d", old[i]);
        ok = ctrl_ok(c, cmd, reply, sizeof reply);
        if (ok == 0)
            report(c, "old network %d not removed: %s", old[i],
                   first_line(reply, line, sizeof line));
        if (ok != 1)
            return -1;
    }
    ok = ctrl_ok(c, "SAVE_CONFIG", reply, sizeof reply);
    if (ok != 1) {
        if (ok == 0)
            report(c,
                   "network %ld is in use but not saved: SAVE_CONFIG answered %s (the "
                   "configuration file needs update_config=1 and must be writable)",
                   id, first_line(reply, line, sizeof line));
        return -1;
    }
    // wpa_supplicant writes its file under a temporary name and renames it
    // without syncing the folder: until that reaches the flash, a power cut
    // brings the old file back. The file's path is wpa_supplicant's own.
    sync();
    char ssid[4 * WIFI_SSID_SIZE + 1];
    say("%s: network %ld \"%s\" (%s) selected and saved\n", ifname, id,
        shown(conf->ssid, (size_t)text_len(conf->ssid, WIFI_SSID_SIZE), ssid, sizeof ssid),
        ENCRYPTION_NAMES[conf->encryption]);
    return 0;
}

// ---- scanning -----------------------------------------------------------------------

struct wifi_ap {
    char bssid[18];
    int freq;
    int level;
    char security[SECURITY_SIZE];
    char ssid[SSID_TEXT_SIZE];
};

struct wifi_ap_list {
    int count;  // entries kept, strongest first
    int found;  // entries of the scan's mode, kept or not
    int in_use; // between wifi_info_scan and wifi_info_list_delete
    wifi_ap ap[WIFI_SCAN_MAX];
};

static wifi_ap_list scan_list;

// The security of a BSS from its flags ("[WPA2-PSK-CCMP][WPS][ESS]"): the
// flags that name a protection, or "open".
static void security_of(const char *flags, char *out, size_t size)
{
    static const char *const kinds[] = {"WPA", "RSN", "WEP", "OSEN", "OWE", "WPS"};
    size_t used = 0;
    out[0] = '\0';
    for (const char *p = strchr(flags, '['); p != NULL; p = strchr(p, '[')) {
        p++;
        size_t len = strcspn(p, "]");
        int wanted = 0;
        for (const char *kind : kinds)
            wanted |= strncmp(p, kind, strlen(kind)) == 0;
        if (wanted && used + len + 2 <= size) {
            used +=
                (size_t)snprintf(out + used, size - used, "%s%.*s", used ? " " : "", (int)len, p);
        }
        p += len;
    }
    if (used == 0)
        snprintf(out, size, "open");
}

// IEEE 802.11 channel numbers: 2.4 GHz 1..13 from 2407 and 14 at 2484;
// 5 GHz from 5000; 6 GHz 1..233 from 5950, and channel 2 below them at 5935.
static int channel_of(int freq)
{
    if (freq == 2484)
        return 14;
    if (freq == 5935)
        return 2;
    if (freq >= 2412 && freq <= 2472)
        return (freq - 2407) / 5;
    if (freq >= 5000 && freq < 5925)
        return (freq - 5000) / 5;
    if (freq >= 5955 && freq <= 7115)
        return (freq - 5950) / 5;
    return 0;
}

static int stronger_first(const void *a, const void *b)
{
    const wifi_ap *x = (const wifi_ap *)a, *y = (const wifi_ap *)b;
    if (x->level != y->level)
        return y->level - x->level;
    return strcmp(x->bssid, y->bssid);
}

// Keeps AP in the list; a full list gives up its weakest entry for a
// stronger one.
static void keep_ap(wifi_ap_list *list, const wifi_ap *ap)
{
    list->found++;
    if (list->count < WIFI_SCAN_MAX) {
        list->ap[list->count++] = *ap;
        return;
    }
    int weakest = 0;
    for (int i = 1; i < list->count; i++)
        if (stronger_first(&list->ap[i], &list->ap[weakest]) > 0)
            weakest = i;
    if (stronger_first(ap, &list->ap[weakest]) < 0)
        list->ap[weakest] = *ap;
}

// Reads one BSS answer into AP; its id in *ID. 1: read, 0: the end of the
// table (an empty answer), -1: an answer that is not a BSS entry.
static int parse_bss(const char *reply, wifi_ap *ap, long *id, char *flags, size_t flags_size)
{
    char value[32];
    if (reply[0] == '\0')
        return 0;
    if (kv_get(reply, "id", value, sizeof value) != 0 || parse_int(value, id) != 0 ||
        kv_get(reply, "bssid", ap->bssid, sizeof ap->bssid) != 0 || !is_bssid(ap->bssid))
        return -1;
    long number = 0;
    ap->freq = (kv_get(reply, "freq", value, sizeof value) == 0 && parse_int(value, &number) == 0)
                   ? (int)number
                   : 0;
    number = 0;
    ap->level = (kv_get(reply, "level", value, sizeof value) == 0 && parse_int(value, &number) == 0)
                    ? (int)number
                    : 0;
    kv_get(reply, "flags", flags, flags_size);
    kv_get(reply, "ssid", ap->ssid, sizeof ap->ssid);
    security_of(flags, ap->security, sizeof ap->security);
    return 1;
}

// Walks wpa_supplicant's BSS table one entry per request, so that a table
// longer than one answer is read whole. Keeps the entries of MODE.
static int read_bss_table(wifi_ctrl *c, uint32_t mode, wifi_ap_list *list)
{
    static char reply[REPLY_SIZE + 1];
    char cmd[COMMAND_SIZE], flags[256], line[64];
    long id = -1;
    snprintf(cmd, sizeof cmd, "BSS FIRST MASK=0x%x", BSS_MASK);
    for (int n = 0; n < BSS_READ_MAX; n++) {
        if (ctrl_request(c, cmd, reply, sizeof reply) < 0)
            return -1;
        wifi_ap ap;
        memset(&ap, 0, sizeof ap);
        long next;
        int got = parse_bss(reply, &ap, &next, flags, sizeof flags);
        if (got == 0)
            return 0;
        if (got < 0 || next <= id) {
            report(c, "unreadable BSS entry after id %ld: %s", id,
                   first_line(reply, line, sizeof line));
            return -1;
        }
        id = next;
        int ibss = strstr(flags, "[IBSS]") != NULL;
        if (ibss == (mode == WIFI_MODE_ADHOC))
            keep_ap(list, &ap);
        snprintf(cmd, sizeof cmd, "BSS NEXT-%ld MASK=0x%x", id, BSS_MASK);
    }
    return 0;
}

// An event's text after its priority ("<3>CTRL-EVENT-...").
static const char *event_text(const char *event)
{
    const char *text = event[0] == '<' ? strchr(event, '>') : NULL;
    return text != NULL ? text + 1 : event;
}

// Asks for a scan and waits for its results on a second, attached
// connection. 0, or -1 (reported).
static int run_scan(wifi_ctrl *c, const char *ifname)
{
    static char event[REPLY_SIZE + 1];
    char reply[64], line[64];
    wifi_ctrl monitor;
    if (ctrl_open(&monitor, ifname) != 0)
        return -1;
    int status = -1;
    int ok = ctrl_ok(&monitor, "ATTACH", reply, sizeof reply);
    if (ok == 0)
        report(&monitor, "ATTACH refused: %s", first_line(reply, line, sizeof line));
    if (ok == 1) {
        ok = ctrl_ok(c, "SCAN", reply, sizeof reply);
        // FAIL-BUSY: a scan is already running; its results will do.
        if (ok == 0 && strncmp(reply, "FAIL-BUSY", 9) != 0)
            report(c, "scan refused: %s", first_line(reply, line, sizeof line));
        else if (ok >= 0)
            status = 1;
    }
    while (status == 1) {
        if (ctrl_wait(&monitor, "scan results", event, sizeof event, WIFI_SCAN_TIMEOUT_MS, 1) < 0) {
            status = -1;
            break;
        }
        const char *text = event_text(event);
        if (strncmp(text, EVENT_SCAN_RESULTS, sizeof EVENT_SCAN_RESULTS - 1) == 0)
            status = 0;
        else if (strncmp(text, EVENT_SCAN_FAILED, sizeof EVENT_SCAN_FAILED - 1) == 0) {
            report(c, "the scan failed: %s", first_line(text, line, sizeof line));
            status = -1;
        }
    }
    if (ok == 1) {
        // Leave the event list: no answer is awaited.
        send(wpa_ctrl_get_fd(monitor.ctrl), "DETACH", 6, 0);
    }
    ctrl_close(&monitor);
    return status;
}

static void print_ap_list(const char *ifname, uint32_t mode, const wifi_ap_list *list)
{
    const char *what = mode == WIFI_MODE_ADHOC ? "ad-hoc cell" : "access point";
    if (list->count == 0) {
        say("%s: no %s found\n", ifname, what);
        return;
    }
    say("%s: %d %s%s found, strongest first\n", ifname, list->found, what,
        list->found == 1 ? "" : "s");
    say("%-17s  %7s  %7s  %-24s  %s\n", "BSSID", "CHANNEL", "SIGNAL", "SECURITY", "SSID");
    for (int i = 0; i < list->count; i++) {
        const wifi_ap *ap = &list->ap[i];
        char channel[16];
        int number = channel_of(ap->freq);
        if (number > 0)
            snprintf(channel, sizeof channel, "%d", number);
        else
            snprintf(channel, sizeof channel, "-");
        char ssid[4 * SSID_TEXT_SIZE + 1];
        say("%-17s  %7s  %3d dBm  %-24s  %s\n", ap->bssid, channel, ap->level, ap->security,
            ap->ssid[0] != '\0' ? shown(ap->ssid, sizeof ap->ssid, ssid, sizeof ssid) : "(hidden)");
    }
    if (list->found > list->count)
        say("%s: %d weaker %ss not listed\n", ifname, list->found - list->count, what);
}

static int scan_into(wifi_ctrl *c, const char *ifname, uint32_t mode, wifi_ap_list *list)
{
    list->count = list->found = 0;
    if (run_scan(c, ifname) != 0 || read_bss_table(c, mode, list) != 0)
        return -1;
    qsort(list->ap, (size_t)list->count, sizeof list->ap[0], stronger_first);
    return 0;
}

void *wifi_info_scan(uint32_t mode)
{
    wifi_ctrl c;
    if (ctrl_open(&c, current_ifname) != 0)
        return NULL;
    if (scan_list.in_use) {
        report(&c, "the previous scan list was not released");
        ctrl_close(&c);
        return NULL;
    }
    int status = scan_into(&c, current_ifname, mode, &scan_list);
    ctrl_close(&c);
    if (status != 0)
        return NULL;
    print_ap_list(current_ifname, mode, &scan_list);
    scan_list.in_use = 1;
    return &scan_list;
}

int wifi_info_list_delete(void *list)
{
    if (list == NULL)
        return 0;
    if (list != &scan_list)
        return -1;
    scan_list.count = scan_list.found = 0;
    scan_list.in_use = 0;
    return 0;
}

// ---- WPS --------------------------------------------------------------------------

// Ends the WPS run that a request started, and gives the networks it set
// aside back.
static const char WPS_UNDO[] = "WPS_CANCEL";

// The BSSID of the access point named NAME: the one the interface is with
// now, or the strongest one a scan finds. 0, or -1 (reported).
static int find_bssid(wifi_ctrl *c, const char *ifname, const char *name, char *bssid)
{
    static char reply[REPLY_SIZE + 1];
    char ssid[SSID_TEXT_SIZE];
    if (ctrl_request(c, "STATUS", reply, sizeof reply) < 0)
        return -1;
    if (kv_get(reply, "ssid", ssid, sizeof ssid) == 0 && strcmp(ssid, name) == 0 &&
        kv_get(reply, "bssid", bssid, 18) == 0 && is_bssid(bssid))
        return 0;
    static wifi_ap_list list;
    if (scan_into(c, ifname, WIFI_MODE_MANAGED, &list) != 0)
        return -1;
    for (int i = 0; i < list.count; i++) {
        if (strcmp(list.ap[i].ssid, name) == 0) {
            memcpy(bssid, list.ap[i].bssid, 18);
            return 0;
        }
    }
    char text[4 * WIFI_APNAME_SIZE + 1];
    report(c, "no access point named \"%s\" found", shown(name, strlen(name), text, sizeof text));
    return -1;
}

static int pin_ok(const char *pin)
{
    size_t len = strlen(pin);
    if (len != 8 && len != 4)
        return 0;
    return strspn(pin, "0123456789") == len;
}

static int start_wps(wifi_ctrl *c, const char *ifname, const struct wifi_conf *conf)
{
    char reply[64], line[64], cmd[COMMAND_SIZE];
    switch (conf->wps_type) {
    case WIFI_WPS_MASTER:
        // wifi_wps_get_pin started the enrolment and showed its pin; a second
        // request would replace that pin.
        say("%s: WPS master mode: the pin enrolment runs on; enter its pin on the access point\n",
            ifname);
        return 0;
    case WIFI_WPS_PBC: {
        int ok = ctrl_ok(c, "WPS_PBC", reply, sizeof reply, WPS_UNDO);
        if (ok == 0)
            report(c, "WPS_PBC refused: %s", first_line(reply, line, sizeof line));
        if (ok != 1)
            return -1;
        say("%s: WPS push-button started: push the access point's WPS button within %d s\n", ifname,
            WIFI_WPS_WALK_S);
        return 0;
    }
    case WIFI_WPS_SLAVE: {
        char name[WIFI_APNAME_SIZE], pin[WIFI_PINCODE_SIZE], bssid[18];
        snprintf(name, sizeof name, "%.*s", text_len(conf->apname, WIFI_APNAME_SIZE), conf->apname);
        snprintf(pin, sizeof pin, "%.*s", text_len(conf->pincode, WIFI_PINCODE_SIZE),
                 conf->pincode);
        if (!pin_ok(pin)) {
            report(c, "the access point's pin must be 8 (or 4) digits: nothing started");
            return -1;
        }
        if (find_bssid(c, ifname, name, bssid) != 0)
            return -1;
        snprintf(cmd, sizeof cmd, "WPS_REG %s %s", bssid, pin);
        int ok = ctrl_ok(c, cmd, reply, sizeof reply, WPS_UNDO);
        if (ok == 0)
            report(c, "WPS_REG refused: %s", first_line(reply, line, sizeof line));
        if (ok != 1)
            return -1;
        char text[4 * WIFI_APNAME_SIZE + 1];
        say("%s: WPS with the pin of access point \"%s\" (%s) started\n", ifname,
            shown(name, sizeof name, text, sizeof text), bssid);
        return 0;
    }
    default:
        report(c, "record field wps_type is %u, not one of 0..2: nothing started",
               (unsigned int)conf->wps_type);
        return -1;
    }
}

int wifi_wps_get_pin(char *pin)
{
    char reply[64], line[64];
    wifi_ctrl c;
    if (pin == NULL)
        return -1;
    pin[0] = '\0';
    if (ctrl_open(&c, current_ifname) != 0)
        return -1;
    // A pin enrolment sets the networks aside: a configuration change too.
    int lock = config_lock(&c);
    int len = -1;
    if (lock != LOCK_REFUSED)
        len = ctrl_request(&c, "WPS_PIN any", reply, sizeof reply, WPS_UNDO);
    config_unlock(lock);
    ctrl_close(&c);
    if (len < 0)
        return -1;
    size_t digits = strspn(reply, "0123456789");
    if (digits != 8 || (reply[8] != '\0' && reply[8] != '\n')) {
        report(&c, "no pin in the answer to WPS_PIN: %s", first_line(reply, line, sizeof line));
        return -1;
    }
    memcpy(pin, reply, 8);
    pin[8] = '\0';
    say("%s: WPS pin enrolment started: enter the pin on the access point within %d s\n",
        current_ifname, WIFI_WPS_WALK_S);
    return 0;
}

// ---- configuration ----------------------------------------------------------------

int wifi_config(const struct wifi_conf *conf)
{
    wifi_ctrl c;
    if (conf == NULL)
        return -1;
    char ifname[WIFI_TEXT_SIZE];
    snprintf(ifname, sizeof ifname, "%.*s", text_len(conf->ifname, WIFI_TEXT_SIZE), conf->ifname);
    if (ctrl_open(&c, ifname) != 0)
        return -1;
    memcpy(current_ifname, ifname, sizeof ifname);
    int status;
    uint32_t enc = conf->encryption;
    if (enc <= WIFI_ENC_WPA_WPA2_PSK || enc == WIFI_ENC_WPS) {
        int lock = config_lock(&c);
        if (lock == LOCK_REFUSED)
            status = -1;
        else if (enc == WIFI_ENC_WPS)
            status = start_wps(&c, ifname, conf);
        else
            status = apply_network(&c, ifname, conf);
        config_unlock(lock);
    } else if (enc < COUNT(ENCRYPTION_NAMES)) {
        report(&c,
               "%s (encryption %u) needs an identity and credentials the record does not "
               "carry: nothing configured",
               ENCRYPTION_NAMES[enc], (unsigned int)enc);
        status = -1;
    } else {
        report(&c, "record field encryption is %u, not one of 0..8: nothing configured",
               (unsigned int)enc);
        status = -1;
    }
    ctrl_close(&c);
    return status;
}

// ---- status -----------------------------------------------------------------------

static int read_status(wifi_ctrl *c, char *reply, size_t size)
{
    if (ctrl_open(c, current_ifname) != 0)
        return -1;
    int len = ctrl_request(c, "STATUS", reply, size);
    ctrl_close(c);
    return len;
}

int wifi_get_status(void)
{
    static char reply[REPLY_SIZE + 1];
    char state[32], line[64];
    wifi_ctrl c;
    if (read_status(&c, reply, sizeof reply) < 0)
        return WIFI_LINK_UNKNOWN;
    if (kv_get(reply, "wpa_state", state, sizeof state) != 0) {
        report(&c, "no wpa_state in the answer to STATUS: %s",
               first_line(reply, line, sizeof line));
        return WIFI_LINK_UNKNOWN;
    }
    return strcmp(state, "COMPLETED") == 0 ? WIFI_LINK_UP : WIFI_LINK_DOWN;
}

// The lines of the working information: STATUS keys and their labels.
static const struct {
    const char *key;
    const char *label;
} STATUS_LINES[] = {
    {"wpa_state", "state"},          {"ssid", "ssid"},          {"bssid", "bssid"},
    {"freq", "frequency (MHz)"},     {"mode", "mode"},          {"key_mgmt", "key management"},
    {"pairwise_cipher", "pairwise"}, {"group_cipher", "group"}, {"ip_address", "ip address"},
    {"address", "mac address"},
};

int wifi_print_config(void)
{
    static char reply[REPLY_SIZE + 1];
    char value[SSID_TEXT_SIZE];
    wifi_ctrl c;
    if (ctrl_open(&c, current_ifname) != 0)
        return -1;
    int status = -1;
    if (ctrl_request(&c, "STATUS", reply, sizeof reply) >= 0) {
        say("%s working information:\n", current_ifname);
        for (const auto &line : STATUS_LINES)
            if (kv_get(reply, line.key, value, sizeof value) == 0)
                say("  %-16s %s\n", line.label, value);
        if (ctrl_request(&c, "LIST_NETWORKS", reply, sizeof reply) >= 0) {
            say("%s networks (id, ssid, bssid, flags):\n", current_ifname);
            // Every line after the heading is one network.
            const char *row = strchr(reply, '\n');
            while (row != NULL && row[1] != '\0') {
                row++;
                size_t len = strcspn(row, "\n");
                say("  %.*s\n", (int)len, row);
                row = strchr(row, '\n');
            }
            status = 0;
        }
    }
    ctrl_close(&c);
    return status;
}

// SIGNAL_POLL figures and how they read; NOISE 9999 is wpa_supplicant's "unknown".
static const struct {
    const char *key;
    const char *name;
    const char *unit;
} SIGNAL_FIGURES[] = {
    {"RSSI", "signal", "dBm"},
    {"LINKSPEED", "link speed", "Mbit/s"},
    {"NOISE", "noise", "dBm"},
    {"FREQUENCY", "frequency", "MHz"},
};

// The figures of a SIGNAL_POLL answer as one line of TEXT; its length.
static size_t signal_figures(const char *reply, char *text, size_t size)
{
    char value[32];
    size_t used = 0;
    text[0] = '\0';
    for (const auto &figure : SIGNAL_FIGURES) {
        if (kv_get(reply, figure.key, value, sizeof value) != 0 || strcmp(value, "9999") == 0)
            continue;
        used += (size_t)snprintf(text + used, size - used, "%s%s %s %s", used ? ", " : "",
                                 figure.name, value, figure.unit);
        if (used >= size)
            used = size - 1;
    }
    return used;
}

int wifi_print_status(void)
{
    static char reply[REPLY_SIZE + 1];
    char state[32], ssid[SSID_TEXT_SIZE], bssid[32], text[256];
    wifi_ctrl c;
    if (ctrl_open(&c, current_ifname) != 0)
        return -1;
    int status = -1;
    if (ctrl_request(&c, "STATUS", reply, sizeof reply) >= 0) {
        kv_get(reply, "wpa_state", state, sizeof state);
        say("%s: state %s", current_ifname, state[0] != '\0' ? state : "unknown");
        char ssid_shown[4 * SSID_TEXT_SIZE + 1];
        if (kv_get(reply, "ssid", ssid, sizeof ssid) == 0)
            say(", ssid \"%s\"", shown(ssid, sizeof ssid, ssid_shown, sizeof ssid_shown));
        if (kv_get(reply, "bssid", bssid, sizeof bssid) == 0)
            say(", bssid %s", bssid);
        say("\n");
        if (ctrl_request(&c, "SIGNAL_POLL", reply, sizeof reply) >= 0) {
            if (signal_figures(reply, text, sizeof text) > 0)
                say("%s: %s\n", current_ifname, text);
            else
                say("%s: the driver reports no signal figures\n", current_ifname);
            status = 0;
        }
    }
    ctrl_close(&c);
    return status;
}
