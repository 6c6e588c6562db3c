// A scripted stand-in for wpa_supplicant's control socket, for what the real
// supplicant cannot show on the simulated board (scan results, signal
// figures, silence, broken answers):
//
//     tool_wpapeer SOCKET SCRIPT LOG
//
// binds the datagram socket SOCKET and answers each request by the first
// rule of SCRIPT whose PREFIX begins the request, one rule a line:
//
//     PREFIX<TAB>ANSWER[<TAB>EVENT]
//
// ANSWER and EVENT take the escapes \n, \t, \\ and \xNN. An ANSWER of
// "@silent" is never sent; "@big N" is N bytes of 'x'. After the answer,
// EVENT goes to every connection that sent ATTACH, as "<3>EVENT". Lines
//
//     ap<TAB>BSSID<TAB>FREQ<TAB>LEVEL<TAB>FLAGS<TAB>SSID
//
// make the BSS table that "BSS FIRST" and "BSS NEXT-<id>" walk (ids 10, 13,
// 16, ...). A rule whose PREFIX is "*" answers what nothing else does (an
// "@silent" one silences everything); ATTACH and DETACH are answered "OK"
// and other requests "UNKNOWN COMMAND". Every request is appended to LOG,
// one a line.
// Ends after ten minutes at the latest.
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <string>
#include <vector>

namespace
{

const unsigned int LIFETIME_S = 600;
const int FIRST_BSS_ID = 10;
const int BSS_ID_STEP = 3;

struct rule {
    std::string prefix, answer, event;
};

struct access_point {
    std::string bssid, freq, level, flags, ssid;
};

std::vector<rule> rules;
std::vector<access_point> table;
std::vector<sockaddr_un> attached;

std::string unescape(const std::string &text)
{
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char c = text[++i];
        if (c == 'n')
            out += '\n';
        else if (c == 't')
            out += '\t';
        else if (c == 'x' && i + 2 < text.size()) {
            out += (char)strtol(text.substr(i + 1, 2).c_str(), NULL, 16);
            i += 2;
        } else
            out += c;
    }
    return out;
}

std::vector<std::string> split_tabs(const std::string &line)
{
    std::vector<std::string> fields;
    size_t start = 0, tab;
    while ((tab = line.find('\t', start)) != std::string::npos) {
        fields.push_back(line.substr(start, tab - start));
        start = tab + 1;
    }
    fields.push_back(line.substr(start));
    return fields;
}

int read_script(const char *path)
{
    FILE *fp = fopen(path, "r");
    if (fp == NULL) {
        perror(path);
        return -1;
    }
    char buf[8192];
    while (fgets(buf, sizeof buf, fp) != NULL) {
        std::string line(buf);
        if (!line.empty() && line.back() == '\n')
            line.pop_back();
        if (line.empty() || line[0] == '#')
            continue;
        std::vector<std::string> f = split_tabs(line);
        if (f[0] == "ap" && f.size() == 6)
            table.push_back({f[1], f[2], f[3], f[4], f[5]});
        else if (f.size() >= 2)
            rules.push_back({unescape(f[0]), f[1], f.size() > 2 ? unescape(f[2]) : ""});
    }
    fclose(fp);
    return 0;
}

// The BSS entry after ID (-1: the first), as wpa_supplicant prints it.
std::string bss_after(long id)
{
    for (size_t i = 0; i < table.size(); i++) {
        long this_id = FIRST_BSS_ID + (long)i * BSS_ID_STEP;
        if (this_id <= id)
            continue;
        const access_point &ap = table[i];
        return "id=" + std::to_string(this_id) + "\nbssid=" + ap.bssid + "\nfreq=" + ap.freq +
               "\nlevel=" + ap.level + "\nflags=" + ap.flags + "\nssid=" + ap.ssid + "\n";
    }
    return "";
}

// The rule for REQUEST: the first whose prefix begins it, else "*"; NULL
// when neither.
const rule *rule_for(const std::string &request)
{
    const rule *wildcard = NULL;
    for (const rule &r : rules) {
        if (r.prefix == "*") {
            if (wildcard == NULL)
                wildcard = &r;
        } else if (request.compare(0, r.prefix.size(), r.prefix) == 0) {
            return &r;
        }
    }
    return wildcard;
}

// The answer of rule R; false: none is sent.
bool rule_answer(const rule &r, std::string *out, std::string *event)
{
    *event = r.event;
    if (r.answer == "@silent")
        return false;
    if (r.answer.compare(0, 5, "@big ") == 0)
        *out = std::string((size_t)atol(r.answer.c_str() + 5), 'x');
    else
        *out = unescape(r.answer);
    return true;
}

// The answer to REQUEST; false: none is sent. A rule for it comes first, a
// silent "*" silences everything, then the BSS table, ATTACH and DETACH,
// then "*".
bool answer(const std::string &request, const sockaddr_un &from, std::string *out,
            std::string *event)
{
    event->clear();
    if (request == "ATTACH")
        attached.push_back(from);
    const rule *r = rule_for(request);
    if (r != NULL && (r->prefix != "*" || r->answer == "@silent"))
        return rule_answer(*r, out, event);
    if (request.compare(0, 10, "BSS FIRST ") == 0) {
        *out = bss_after(-1);
        return true;
    }
    if (request.compare(0, 9, "BSS NEXT-") == 0) {
        *out = bss_after(atol(request.c_str() + 9));
        return true;
    }
    if (request == "ATTACH" || request == "DETACH") {
        *out = "OK\n";
        return true;
    }
    if (r != NULL)
        return rule_answer(*r, out, event);
    *out = "UNKNOWN COMMAND\n";
    return true;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc != 4) {
        fprintf(stderr, "usage: %s SOCKET SCRIPT LOG\n", argv[0]);
        return 2;
    }
    alarm(LIFETIME_S);
    if (read_script(argv[2]) != 0)
        return 1;
    std::string dir = argv[1];
    dir = dir.substr(0, dir.rfind('/'));
    mkdir(dir.c_str(), 0770);
    int fd = socket(AF_UNIX, SOCK_DGRAM, 0);
    sockaddr_un addr = {};
    addr.sun_family = AF_UNIX;
    snprintf(addr.sun_path, sizeof addr.sun_path, "%s", argv[1]);
    unlink(argv[1]);
    if (fd < 0 || bind(fd, (sockaddr *)&addr, sizeof addr) != 0) {
        perror(argv[1]);
        return 1;
    }
    FILE *log = fopen(argv[3], "a");
    if (log == NULL) {
        perror(argv[3]);
        return 1;
    }
    for (;;) {
        static char buf[8192];
        sockaddr_un from = {};
        socklen_t from_len = sizeof from;
        ssize_t len = recvfrom(fd, buf, sizeof buf - 1, 0, (sockaddr *)&from, &from_len);
        if (len < 0) {
            if (errno == EINTR)
                continue;
            perror("recvfrom");
            return 1;
        }
        std::string request(buf, (size_t)len);
        fprintf(log, "%s\n", request.c_str());
        fflush(log);
        std::string out, event;
        if (answer(request, from, &out, &event))
            sendto(fd, out.data(), out.size(), 0, (sockaddr *)&from, from_len);
        if (!event.empty()) {
            std::string message = "<3>" + event;
            for (const sockaddr_un &to : attached)
                sendto(fd, message.data(), message.size(), 0, (const sockaddr *)&to, sizeof to);
        }
    }
}
