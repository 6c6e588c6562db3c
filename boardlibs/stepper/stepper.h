/*
 * The camera's lens stepper library: the focus, zoom and P-iris motors,
 * two-phase steppers driven through four GPIO phase lines each (the board's
 * GPIO descriptor, gpio.h) in the half-step sequence. Positions are counted
 * in half-steps from each motor's back end stop and kept on the board's
 * flash between runs.
 */
#ifndef BOARDLIBS_STEPPER_H
#define BOARDLIBS_STEPPER_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* Motors (stepper_request.type). */
#define STEPPER_FOCUS 0u
#define STEPPER_ZOOM 1u
#define STEPPER_PIRIS 2u

/* Directions (stepper_request.dir). */
#define STEPPER_FORWARD 0u /* steps towards the far end: the position grows */
#define STEPPER_BACK 1u    /* steps towards the back end stop: it shrinks */
#define STEPPER_GOTO 2u    /* to the position given as the step count */
#define STEPPER_HOME 3u    /* against the back end stop, which is position 0 */

/* Travel of each motor in half-steps: positions 0 .. travel. */
#define STEPPER_FOCUS_TRAVEL 6764u
#define STEPPER_ZOOM_TRAVEL 2768u
#define STEPPER_PIRIS_TRAVEL 184u

/* STEPPER_run results besides 0 (done) and -1 (refused or failed). */
#define STEPPER_STOPPED 1 /* cut short by SIGINT, SIGQUIT, SIGTERM or SIGHUP */

/* One move, read by layout: little-endian, 16 bytes. */
typedef struct stepper_request {
    uint32_t type;  /* STEPPER_FOCUS, STEPPER_ZOOM or STEPPER_PIRIS */
    uint32_t dir;   /* STEPPER_FORWARD .. STEPPER_HOME */
    uint64_t steps; /* half-steps; the position for STEPPER_GOTO */
} stepper_request;

#ifdef __cplusplus
static_assert(offsetof(stepper_request, type) == 0, "type at byte 0");
static_assert(offsetof(stepper_request, dir) == 4, "dir at byte 4");
static_assert(offsetof(stepper_request, steps) == 8, "steps at byte 8");
static_assert(sizeof(stepper_request) == 16, "16 bytes");
#endif

/*
 * Runs the move and returns when it has ended: 0 when done (a move past
 * either end of the travel runs to the end and says so on standard error),
 * STEPPER_STOPPED when SIGINT, SIGQUIT, SIGTERM or SIGHUP arrived during the move
 * (it stops after the step under way; the signal is then raised again for
 * the program's own handler), -1 for a bad request or a phase line that
 * failed (reported on standard error). A motor whose position is unknown is
 * homed against its back end stop first. The first call after opening
 * waits while another program holds the lens (until its STEPPER_close), at
 * most 60 s (then -1, nothing moved); a stop signal ends that wait too,
 * with nothing moved.
 */
int STEPPER_run(const stepper_request *req);

/*
 * Starts the P-iris moving to the position duty (0 .. STEPPER_PIRIS_TRAVEL)
 * and returns at once: STEPPER_check_busy(STEPPER_PIRIS) makes the steps
 * that are due. 0, -1 for a duty past the travel or a lens another program
 * still holds after 60 s, or STEPPER_STOPPED when a stop signal ended its
 * wait for another program that holds the lens.
 */
int STEPPER_set_piris_duty(uint32_t duty);

/*
 * Makes the motor's step that is due, if any, and answers 1 while the motor
 * is moving, 0 once it is at rest with its phases off (also for a type that
 * is no motor). Never waits.
 */
int STEPPER_check_busy(uint32_t type);

/*
 * Stops what is still moving, switches every phase line off, saves the
 * positions and lets the lens go to another program. A second call finds
 * nothing to do. Returns 0.
 */
int STEPPER_close(void);

#ifdef __cplusplus
}
#endif

#endif
