/*
 * The camera's PWM board library: the channels of the board's PWM chip
 * through the kernel's sysfs PWM interface. Channel N is
 * /sys/class/pwm/pwmchip0/pwmN.
 */
#ifndef BOARDLIBS_PWM_H
#define BOARDLIBS_PWM_H

#ifdef __cplusplus
extern "C" {
#endif

/* Duty ratios are in tenths of a percent: 0 .. PWM_DUTY_FULL. */
#define PWM_DUTY_FULL 1000

/*
 * Prints on standard output what the channel does: its period and duty
 * cycle in nanoseconds, the duty ratio in tenths of a percent, whether it
 * is enabled and its polarity. Exports the channel when it is not exported
 * yet. 0, or -1 after a report on standard error.
 */
int pwm_read(int channel);

/*
 * Sets the channel running with a period of `period` nanoseconds and a
 * duty cycle of period * duty / 1000, in the order that the kernel accepts
 * (the duty cycle never longer than the period), then enables it. The
 * channel stays exported and running after the program ends. A duty above
 * 1000, a period of 0 or less or a channel the chip lacks is refused with
 * a report and changes nothing. 0, or -1 after a report on standard error.
 */
int pwm_write(int channel, int period, int duty);

/*
 * Unexports the channels this library exported only to read them; a
 * second call finds nothing to do. Returns 0.
 */
int pwm_close(void);

#ifdef __cplusplus
}
#endif

#endif
