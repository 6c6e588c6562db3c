/*
 * Wi-Fi library of the camera: applies a configuration record to the
 * interface, scans, reports status and link, and runs WPS, all through the
 * control socket of the interface's wpa_supplicant.
 *
 * Every call opens its own connection and closes it before it returns; no
 * call waits longer than its named timeout below. Failures are reported on
 * standard error with the prefix "bvwifi: " and the socket's path.
 */
#ifndef BVWIFI_H
#define BVWIFI_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Where wpa_supplicant keeps one control socket per interface. */
#define WIFI_CTRL_DIR "/var/run/wpa_supplicant"
/*
 * Lock file (lockf) that serialises the configuration changes of all
 * processes: wifi_config and wifi_wps_get_pin hold it while they change the
 * interface's networks, and wait at most WIFI_LOCK_TIMEOUT_MS for it.
 */
#define WIFI_LOCK_FILE "/tmp/wifi.fl"
/* The interface of the calls that take no record, until wifi_config names one. */
#define WIFI_DEFAULT_IFNAME "wlan0"

/* Longest wait for the answer to one request. */
#define WIFI_REPLY_TIMEOUT_MS 3000
/* Longest wait for a scan's results after the scan request was taken. */
#define WIFI_SCAN_TIMEOUT_MS 10000
/*
 * Longest wait for the lock file: more than a configuration of another
 * process takes, a scan for the access point of a WPS pin included.
 */
#define WIFI_LOCK_TIMEOUT_MS 30000
/* Access points one scan list keeps (wpa_supplicant's own default table size). */
#define WIFI_SCAN_MAX 200
/* The walk time of WPS: how long wpa_supplicant keeps an enrolment running. */
#define WIFI_WPS_WALK_S 120

#define WIFI_SSID_SIZE 128
#define WIFI_KEY_SIZE 32
#define WIFI_PSK_SIZE 64
#define WIFI_APNAME_SIZE 64
#define WIFI_PINCODE_SIZE 17
#define WIFI_TEXT_SIZE 32
/* The pin buffer of wifi_wps_get_pin: eight digits and the terminator. */
#define WIFI_PIN_SIZE 9

enum wifi_mode { WIFI_MODE_MANAGED = 0, WIFI_MODE_ADHOC = 1 };

enum wifi_encryption {
    WIFI_ENC_OPEN = 0,
    WIFI_ENC_WEP = 1,
    WIFI_ENC_WPA_PSK = 2,
    WIFI_ENC_WPA2_PSK = 3,
    WIFI_ENC_WPA_WPA2_PSK = 4,
    WIFI_ENC_WPA_EAP = 5,
    WIFI_ENC_WPA2_EAP = 6,
    WIFI_ENC_WPA_WPA2_EAP = 7,
    WIFI_ENC_WPS = 8,
};

enum wifi_wps_type { WIFI_WPS_MASTER = 0, WIFI_WPS_PBC = 1, WIFI_WPS_SLAVE = 2 };
enum wifi_keytype { WIFI_KEY_HEX = 0, WIFI_KEY_ASCII = 1 };

/* wifi_get_status: link up, link down; any other value: cannot tell. */
enum wifi_link_state { WIFI_LINK_DOWN = 0, WIFI_LINK_UP = 1, WIFI_LINK_UNKNOWN = -1 };

/*
 * The configuration record, read by layout: little-endian integers, text
 * fields NUL-terminated and NUL-padded, 572 bytes. (No typedef: the
 * module's one record is an object of the same name.)
 */
struct wifi_conf {
    char ssid[WIFI_SSID_SIZE];
    uint32_t mode;       /* wifi_mode */
    uint32_t channel;    /* 1..14 a channel number, above 14 a frequency in MHz */
    uint32_t key_mgmt;   /* 0 NONE, 1 IEEE8021X, 2 WPA-PSK, 3 WPA-EAP, 4 WPA-NONE, 5 all */
    uint32_t auth_alg;   /* 0 OPEN, 1 SHARED, 2 LEAP */
    uint32_t group;      /* 0 CCMP, 1 TKIP, 2 WEP104, 3 WEP40, 4 WEP, 5 CCMP+TKIP, 6 any */
    uint32_t encryption; /* wifi_encryption */
    uint8_t wep_select;  /* 0..3: the WEP key used to send */
    char key0[WIFI_KEY_SIZE];
    char key1[WIFI_KEY_SIZE];
    char key2[WIFI_KEY_SIZE];
    char key3[WIFI_KEY_SIZE];
    uint8_t padding[3];
    uint32_t keytype;  /* wifi_keytype of the selected WEP key */
    uint32_t pairwise; /* 0 NONE, 1 TKIP, 2 CCMP, 3 CCMP+TKIP */
    uint32_t proto;    /* 0 WPA, 1 RSN, 2 both */
    char psk[WIFI_PSK_SIZE];
    uint8_t wps_type; /* wifi_wps_type */
    uint8_t wps_pbc;
    uint8_t wps_pin;
    char apname[WIFI_APNAME_SIZE];
    char pincode[WIFI_PINCODE_SIZE];
    char ip_addr[WIFI_TEXT_SIZE];
    char netmask[WIFI_TEXT_SIZE];
    char mac_addr[WIFI_TEXT_SIZE];
    char ifname[WIFI_TEXT_SIZE];
};

#ifdef __cplusplus
#define BVWIFI_ASSERT(cond, what) static_assert(cond, what)
#else
#define BVWIFI_ASSERT(cond, what) _Static_assert(cond, what)
#endif
BVWIFI_ASSERT(offsetof(struct wifi_conf, ssid) == 0, "ssid at 0");
BVWIFI_ASSERT(offsetof(struct wifi_conf, mode) == 128, "mode at 128");
BVWIFI_ASSERT(offsetof(struct wifi_conf, channel) == 132, "channel at 132");
BVWIFI_ASSERT(offsetof(struct wifi_conf, key_mgmt) == 136, "key_mgmt at 136");
BVWIFI_ASSERT(offsetof(struct wifi_conf, auth_alg) == 140, "auth_alg at 140");
BVWIFI_ASSERT(offsetof(struct wifi_conf, group) == 144, "group at 144");
BVWIFI_ASSERT(offsetof(struct wifi_conf, encryption) == 148, "encryption at 148");
BVWIFI_ASSERT(offsetof(struct wifi_conf, wep_select) == 152, "wep_select at 152");
BVWIFI_ASSERT(offsetof(struct wifi_conf, key0) == 153, "key0 at 153");
BVWIFI_ASSERT(offsetof(struct wifi_conf, key1) == 185, "key1 at 185");
BVWIFI_ASSERT(offsetof(struct wifi_conf, key2) == 217, "key2 at 217");
BVWIFI_ASSERT(offsetof(struct wifi_conf, key3) == 249, "key3 at 249");
BVWIFI_ASSERT(offsetof(struct wifi_conf, padding) == 281, "padding at 281");
BVWIFI_ASSERT(offsetof(struct wifi_conf, keytype) == 284, "keytype at 284");
BVWIFI_ASSERT(offsetof(struct wifi_conf, pairwise) == 288, "pairwise at 288");
BVWIFI_ASSERT(offsetof(struct wifi_conf, proto) == 292, "proto at 292");
BVWIFI_ASSERT(offsetof(struct wifi_conf, psk) == 296, "psk at 296");
BVWIFI_ASSERT(offsetof(struct wifi_conf, wps_type) == 360, "wps_type at 360");
BVWIFI_ASSERT(offsetof(struct wifi_conf, wps_pbc) == 361, "wps_pbc at 361");
BVWIFI_ASSERT(offsetof(struct wifi_conf, wps_pin) == 362, "wps_pin at 362");
BVWIFI_ASSERT(offsetof(struct wifi_conf, apname) == 363, "apname at 363");
BVWIFI_ASSERT(offsetof(struct wifi_conf, pincode) == 427, "pincode at 427");
BVWIFI_ASSERT(offsetof(struct wifi_conf, ip_addr) == 444, "ip_addr at 444");
BVWIFI_ASSERT(offsetof(struct wifi_conf, netmask) == 476, "netmask at 476");
BVWIFI_ASSERT(offsetof(struct wifi_conf, mac_addr) == 508, "mac_addr at 508");
BVWIFI_ASSERT(offsetof(struct wifi_conf, ifname) == 540, "ifname at 540");
BVWIFI_ASSERT(sizeof(struct wifi_conf) == 572, "the record is 572 bytes");
#undef BVWIFI_ASSERT

/*
 * Makes the record the interface's one network, atomically: the new network
 * is built disabled and selected only when wpa_supplicant took every field;
 * then the old networks are removed and the configuration is saved. A WPS
 * record (encryption 8) starts WPS instead. 0 on success; non-zero when
 * anything was refused or could not be saved (reported).
 */
int wifi_config(const struct wifi_conf *conf);

/*
 * Scans, waits for the results (at most WIFI_SCAN_TIMEOUT_MS), prints the
 * access points (mode 0) or ad-hoc cells (mode 1) found, strongest first.
 * Returns the list, to be released with wifi_info_list_delete, or absent
 * when the scan failed.
 */
void *wifi_info_scan(uint32_t mode);
int wifi_info_list_delete(void *list);

/* WIFI_LINK_UP in wpa_state COMPLETED, WIFI_LINK_DOWN in any other state. */
int wifi_get_status(void);
/* Prints the state and the signal figures the driver reports. */
int wifi_print_status(void);
/* Prints the interface's current working information and its networks. */
int wifi_print_config(void);

/*
 * Starts a WPS pin enrolment and writes its pin (eight digits) into PIN, a
 * buffer of WIFI_PIN_SIZE bytes; the enrolment runs on after the call for
 * WIFI_WPS_WALK_S seconds. PIN stays empty on failure.
 */
int wifi_wps_get_pin(char *pin);

#ifdef __cplusplus
}
#endif

#endif
