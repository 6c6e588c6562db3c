/*
 * The camera's GPIO board library: one line at a time through the kernel's
 * sysfs GPIO interface, or its GPIO character device on a kernel without
 * sysfs GPIO, and the board's GPIO descriptor. Line N is the kernel's
 * global GPIO number N (/sys/class/gpio/gpioN), or line N - first of the
 * chip of the bank that holds it (README.md).
 */
#ifndef BOARDLIBS_GPIO_H
#define BOARDLIBS_GPIO_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The four phase lines of one two-phase stepper motor of the lens. */
typedef struct ext_gpio_motor {
    uint32_t a_plus;
    uint32_t a_minus;
    uint32_t b_plus;
    uint32_t b_minus;
} ext_gpio_motor;

/*
 * The board's GPIO descriptor: the line number of each signal. Other
 * programs of the camera read it by layout: the IR LED's line is the
 * 32-bit word at byte offset 16.
 */
typedef struct ext_gpio {
    uint32_t system_reset; /* drives the board's reset */
    uint32_t reset_key;    /* the reset button, an input */
    uint32_t ircut_a;      /* IR-cut filter coil, one end */
    uint32_t ircut_b;      /* IR-cut filter coil, other end */
    uint32_t ir_led;       /* IR LED driver enable */
    ext_gpio_motor focus;  /* lens focus motor */
    ext_gpio_motor zoom;   /* lens zoom motor */
    ext_gpio_motor piris;  /* P-iris motor */
} ext_gpio;

#ifdef __cplusplus
static_assert(offsetof(ext_gpio, ir_led) == 16, "the IR LED's line is the word at byte 16");
static_assert(offsetof(ext_gpio, focus) == 20, "motor lines follow the IR LED's");
static_assert(offsetof(ext_gpio, zoom) == 36 && offsetof(ext_gpio, piris) == 52, "motor layout");
static_assert(sizeof(ext_gpio_motor) == 16 && sizeof(ext_gpio) == 68, "descriptor size");
#endif

extern const ext_gpio extGpio;

/* Highest line value gpio_write takes: 0 low, 1 high, 2 input. */
#define GPIO_VALUE_INPUT 2u

/*
 * The line's level, 0 or 1, as the kernel reads it; -1 when it cannot be
 * read (reported on standard error). Takes the line when it is not held
 * yet (exported, or requested as it is); its direction is left as it is.
 */
int gpio_read(uint32_t id);

/*
 * 0 or 1: makes the line an output at that level, in one step when it is
 * not an output yet (no glitch through the other level). 2: releases the
 * line as an input (the library stops driving it). Through sysfs the line
 * stays exported and keeps what was set after the program ends; through
 * the character device it is released at gpio_close or when the program
 * ends, and keeps what was set where the board's GPIO driver leaves a
 * released line as it is (README.md). 0, or -1 after a report on standard error.
 */
int gpio_write(uint32_t id, uint32_t value);

/*
 * Lets go of the lines used since the last call: closes their value files
 * and unexports the lines this library exported only to read them, or
 * releases their requests. A second call finds nothing to do. Returns 0.
 */
int gpio_close(void);

#ifdef __cplusplus
}
#endif

#endif
