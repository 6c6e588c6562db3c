// The Wi-Fi library's readers of wpa_supplicant's answers over any text:
// STATUS keys, BSS entries into the scan list (the full list included),
// events, SIGNAL_POLL and LIST_NETWORKS. The input is one answer, or, split
// at NUL bytes, the BSS table entry by entry.
#include "bvwifi.cpp"
#include "fuzz.h"

#include <stdlib.h>

static wifi_ap_list list;
static wifi_ap all[WIFI_SCAN_MAX * 4];

static bool terminated(const char *text, size_t size) { return memchr(text, '\0', size) != NULL; }

static void read_status(const char *reply)
{
    char value[SSID_TEXT_SIZE];
    for (const auto &line : STATUS_LINES)
        if (kv_get(reply, line.key, value, sizeof value) == 0)
            FUZZ_CHECK(terminated(value, sizeof value) && strchr(value, '\n') == NULL);
    char small[4];
    kv_get(reply, "wpa_state", small, sizeof small);
    FUZZ_CHECK(terminated(small, sizeof small));
}

static void read_signal(const char *reply)
{
    char text[256];
    size_t used = signal_figures(reply, text, sizeof text);
    FUZZ_CHECK(used < sizeof text && strlen(text) == used);
}

static void read_networks(const char *reply)
{
    int ids[8];
    int count = network_ids(reply, ids, 8);
    FUZZ_CHECK(count >= 0 && count <= 8);
}

static void read_event(const char *reply)
{
    const char *text = event_text(reply);
    FUZZ_CHECK(text >= reply && text <= reply + strlen(reply));
}

// Every entry as read_bss_table keeps it; the list must hold the strongest
// of them, strongest first, and prints as the scan's table.
static void read_bss(char *const *entries, int count)
{
    list.count = list.found = 0;
    int parsed = 0;
    char flags[256];
    for (int i = 0; i < count && parsed < (int)(sizeof all / sizeof all[0]); i++) {
        wifi_ap ap;
        memset(&ap, 0, sizeof ap);
        long id;
        if (parse_bss(entries[i], &ap, &id, flags, sizeof flags) != 1)
            continue;
        FUZZ_CHECK(is_bssid(ap.bssid) && terminated(ap.ssid, sizeof ap.ssid));
        FUZZ_CHECK(terminated(ap.security, sizeof ap.security) && ap.security[0] != '\0');
        FUZZ_CHECK(terminated(flags, sizeof flags));
        all[parsed++] = ap;
        keep_ap(&list, &ap);
    }
    FUZZ_CHECK(list.found == parsed && list.count == (parsed < WIFI_SCAN_MAX ? parsed : WIFI_SCAN_MAX));
    qsort(list.ap, (size_t)list.count, sizeof list.ap[0], stronger_first);
    qsort(all, (size_t)parsed, sizeof all[0], stronger_first);
    for (int i = 0; i < list.count; i++)
        FUZZ_CHECK(stronger_first(&list.ap[i], &all[i]) == 0);
    print_ap_list("wlan0", WIFI_MODE_ADHOC, &list);
}

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz_init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size > REPLY_SIZE * 4)
        return 0;
    char *reply = (char *)malloc(size + 1);
    memcpy(reply, data, size);
    reply[size] = '\0';
    read_status(reply);
    read_signal(reply);
    read_networks(reply);
    read_event(reply);
    free(reply);

    // The entries, one per NUL-separated piece.
    char *text = (char *)malloc(size + 1);
    memcpy(text, data, size);
    text[size] = '\0';
    enum { ENTRIES_MAX = WIFI_SCAN_MAX * 4 };
    static char *entries[ENTRIES_MAX];
    int count = 0;
    for (size_t at = 0; at < size && count < ENTRIES_MAX; at += strlen(text + at) + 1)
        entries[count++] = text + at;
    read_bss(entries, count);
    free(text);
    return 0;
}
