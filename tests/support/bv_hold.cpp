// A test-only module for the shutdown order: linked with the shipped
// modules that have release operations (adc, gpio, pwm, mtd) into the test
// build debug_shutdown, never into the shipped debug. Its run reads GPIO
// line 5 and PWM channel 1 and leaves both held, so that shutdown's
// releases, in table order, show in the board's sysfs write log.
#include "debug_module.h"
#include "gpio.h"
#include "osa.h"
#include "pwm.h"

static int hold_run(int, char **)
{
    OSA_printf("hold: gpio 5 reads %d\n", gpio_read(5));
    pwm_read(1);
    return 0;
}

static int hold_usage(void) { return 0; }

static debug_module hold_module = {"hold", 5, hold_run, hold_usage, NULL};

MODULE_REGISTER(hold_module)
