// Calls the stepper library the way other programs of the camera may, past
// what the motor module asks of it. Each word or group of words is one call,
// made in order, its result printed:
//
//   run TYPE DIR STEPS    STEPPER_run             "run = R"
//   duty D                STEPPER_set_piris_duty  "duty = R"
//   busy TYPE             STEPPER_check_busy      "busy = R"
//   idle TYPE             STEPPER_check_busy every millisecond until 0
//                                                 "idle"
//   close                 STEPPER_close           "close = R"
//
// It installs no signal handler: a stop signal has its default action.
#include "stepper.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

namespace
{

uint64_t number(const char *text)
{
    return strtoull(text, NULL, 0);
}

} // namespace

int main(int argc, char **argv)
{
    setvbuf(stdout, NULL, _IONBF, 0);
    for (int i = 1; i < argc; i++) {
        const char *word = argv[i];
        int left = argc - i - 1;
        if (strcmp(word, "run") == 0 && left >= 3) {
            stepper_request req = {(uint32_t)number(argv[i + 1]), (uint32_t)number(argv[i + 2]),
                                   number(argv[i + 3])};
            i += 3;
            printf("run = %d\n", STEPPER_run(&req));
        } else if (strcmp(word, "duty") == 0 && left >= 1) {
            printf("duty = %d\n", STEPPER_set_piris_duty((uint32_t)number(argv[++i])));
        } else if (strcmp(word, "busy") == 0 && left >= 1) {
            printf("busy = %d\n", STEPPER_check_busy((uint32_t)number(argv[++i])));
        } else if (strcmp(word, "idle") == 0 && left >= 1) {
            uint32_t type = (uint32_t)number(argv[++i]);
            while (STEPPER_check_busy(type) != 0)
                usleep(1000);
            printf("idle\n");
        } else if (strcmp(word, "close") == 0) {
            printf("close = %d\n", STEPPER_close());
        } else {
            fprintf(stderr, "tool_stepper: cannot read '%s'\n", word);
            return 2;
        }
    }
    return 0;
}
