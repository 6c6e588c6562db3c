// SPDX-License-Identifier: GPL-2.0
/*
 * The camera board's own devices on a board that lacks them: the SoC's four
 * GPIO banks, its PWM block, the photodiode's ADC, the raw NAND flash and
 * the state files of the media driver.
 * Each registers through the kernel's own subsystem, so that the subsystem
 * enforces its rules (exports, directions, duty cycles, bad blocks) and
 * records what is done to the devices in its trace events. The outside
 * world is a few module parameters a test writes in
 * /sys/module/camboard/parameters/:
 *
 *   gpio_levels  what drives each bank's input lines (four 32-bit masks)
 *   badblocks    bad erase blocks of the NAND, by number within the chip
 *   adc_failing  ADC channels whose reads fail with EIO, as a driver's do (a mask)
 *   nand_store   the block device that keeps the NAND's data, given at load
 *
 * and the ADC's in_voltageN_raw files, which take the reading to report,
 * and the media driver's state files /proc/media/NAME, which take the
 * text a read gives.
 *
 * The NAND keeps its data on a disk of the machine's (a virtio disk that
 * the board's image file backs), as a chip keeps it across power cuts: a
 * page write or an erase is on the disk when it returns, and nothing is
 * held back in between. Chip rules apply: whole pages written once after
 * an erase, whole erase blocks erased, bad blocks refused.
 */

#include <linux/bitmap.h>
#include <linux/fs.h>
#include <linux/gpio/driver.h>
#include <linux/iio/iio.h>
#include <linux/module.h>
#include <linux/moduleparam.h>
#include <linux/mtd/mtd.h>
#include <linux/mtd/partitions.h>
#include <linux/platform_device.h>
#include <linux/proc_fs.h>
#include <linux/pwm.h>
#include <linux/seq_file.h>
#include <linux/slab.h>
#include <linux/sizes.h>
#include <linux/string.h>
#include <linux/uaccess.h>

#define CAMBOARD_NAME		"camboard"

/* GPIO: four banks of 32 lines at the SoC's global numbers 0, 32, 64, 96 */
#define CAMBOARD_GPIO_BANKS	4
#define CAMBOARD_GPIO_LINES	32

/* PWM: one chip of four channels */
#define CAMBOARD_PWM_CHANNELS	4

/* ADC: three 10-bit channels */
#define CAMBOARD_ADC_CHANNELS	3
#define CAMBOARD_ADC_MAX	1023

/* NAND: 128 MiB of 128 KiB erase blocks, 2 KiB pages */
#define CAMBOARD_NAND_SIZE	SZ_128M
#define CAMBOARD_NAND_ERASE	SZ_128K
#define CAMBOARD_NAND_PAGE	SZ_2K
#define CAMBOARD_NAND_OOB	64
#define CAMBOARD_NAND_BLOCKS	(CAMBOARD_NAND_SIZE / CAMBOARD_NAND_ERASE)
#define CAMBOARD_BAD_MAX	64

static unsigned int gpio_levels[CAMBOARD_GPIO_BANKS];
module_param_array(gpio_levels, uint, NULL, 0644);
MODULE_PARM_DESC(gpio_levels, "levels driven on each bank's input lines, a mask a bank");

static unsigned int adc_failing;
module_param(adc_failing, uint, 0644);
MODULE_PARM_DESC(adc_failing, "ADC channels whose reads fail with EIO, a bit a channel");

static unsigned int badblocks[CAMBOARD_BAD_MAX];
static unsigned int nr_badblocks;

static char *nand_store;
module_param(nand_store, charp, 0444);
MODULE_PARM_DESC(nand_store, "block device keeping the NAND's data (none: reads erased, no writes)");

/* A list of block numbers, "3,17,200"; an empty one clears it */
static int camboard_badblocks_set(const char *val, const struct kernel_param *kp)
{
	unsigned int blocks[CAMBOARD_BAD_MAX];
	unsigned int n = 0;
	char *buf, *rest, *tok;
	int ret = 0;

	buf = kstrdup(val, GFP_KERNEL);
	if (!buf)
		return -ENOMEM;
	rest = strim(buf);
	while (!ret && (tok = strsep(&rest, ",")) != NULL) {
		if (!*tok)
			continue;
		if (n == CAMBOARD_BAD_MAX)
			ret = -ENOSPC;
		else
			ret = kstrtouint(tok, 0, &blocks[n]);
		if (!ret && blocks[n++] >= CAMBOARD_NAND_BLOCKS)
			ret = -ERANGE;
	}
	kfree(buf);
	if (ret)
		return ret;
	memcpy(badblocks, blocks, n * sizeof(blocks[0]));
	nr_badblocks = n;
	return 0;
}

static int camboard_badblocks_get(char *buffer, const struct kernel_param *kp)
{
	unsigned int i;
	int len = 0;

	for (i = 0; i < nr_badblocks; i++)
		len += scnprintf(buffer + len, PAGE_SIZE - len, "%s%u", i ? "," : "", badblocks[i]);
	return len + scnprintf(buffer + len, PAGE_SIZE - len, "\n");
}

static const struct kernel_param_ops camboard_badblocks_ops = {
	.set = camboard_badblocks_set,
	.get = camboard_badblocks_get,
};
module_param_cb(badblocks, &camboard_badblocks_ops, NULL, 0644);
MODULE_PARM_DESC(badblocks, "bad erase blocks of the NAND, numbered from the chip's start");

/* The camera's partitions of its NAND flash, in flash order */
static const struct mtd_partition camboard_nand_parts[] = {
	{ .name = "boot",   .offset = 0,                    .size = SZ_1M },
	{ .name = "env",    .offset = MTDPART_OFS_APPEND,   .size = SZ_512K },
	{ .name = "kernel", .offset = MTDPART_OFS_APPEND,   .size = SZ_4M },
	{ .name = "rootfs", .offset = MTDPART_OFS_APPEND,   .size = SZ_16M },
	{ .name = "data",   .offset = MTDPART_OFS_APPEND,   .size = MTDPART_SIZ_FULL },
};

struct camboard_bank {
	struct gpio_chip chip;
	unsigned int index;
	DECLARE_BITMAP(output, CAMBOARD_GPIO_LINES);
	DECLARE_BITMAP(level, CAMBOARD_GPIO_LINES);	/* of output lines */
	char label[16];
};

struct camboard {
	struct camboard_bank banks[CAMBOARD_GPIO_BANKS];
	struct pwm_chip pwm;
	struct pwm_state pwm_states[CAMBOARD_PWM_CHANNELS];
	struct mtd_info nand;
	struct file *store;	/* the NAND's data, or NULL */
	struct mutex nand_lock;	/* a page's erased check against its write */
	u8 *page;		/* one page, read for that check */
	u8 *erased;		/* one erase block of 0xff */
};

struct camboard_adc {
	struct mutex lock;	/* readings against writes */
	int raw[CAMBOARD_ADC_CHANNELS];
};

/* ---- GPIO ---- */

static int camboard_gpio_get(struct gpio_chip *gc, unsigned int offset)
{
	struct camboard_bank *bank = gpiochip_get_data(gc);

	if (test_bit(offset, bank->output))
		return test_bit(offset, bank->level);
	return !!(READ_ONCE(gpio_levels[bank->index]) & BIT(offset));
}

static void camboard_gpio_set(struct gpio_chip *gc, unsigned int offset, int value)
{
	struct camboard_bank *bank = gpiochip_get_data(gc);

	assign_bit(offset, bank->level, value);
}

static int camboard_gpio_get_direction(struct gpio_chip *gc, unsigned int offset)
{
	struct camboard_bank *bank = gpiochip_get_data(gc);

	return test_bit(offset, bank->output) ? GPIO_LINE_DIRECTION_OUT :
						GPIO_LINE_DIRECTION_IN;
}

static int camboard_gpio_direction_input(struct gpio_chip *gc, unsigned int offset)
{
	struct camboard_bank *bank = gpiochip_get_data(gc);

	clear_bit(offset, bank->output);
	return 0;
}

/* The level is set before the line drives it: no glitch on the way out */
static int camboard_gpio_direction_output(struct gpio_chip *gc, unsigned int offset,
					  int value)
{
	struct camboard_bank *bank = gpiochip_get_data(gc);

	assign_bit(offset, bank->level, value);
	set_bit(offset, bank->output);
	return 0;
}

static int camboard_gpio_probe(struct device *dev, struct camboard *cb)
{
	unsigned int i;
	int ret;

	for (i = 0; i < CAMBOARD_GPIO_BANKS; i++) {
		struct camboard_bank *bank = &cb->banks[i];
		struct gpio_chip *gc = &bank->chip;

		bank->index = i;
		snprintf(bank->label, sizeof(bank->label), "gpio-bank%u", i);
		gc->label = bank->label;
		gc->parent = dev;
		gc->owner = THIS_MODULE;
		gc->base = i * CAMBOARD_GPIO_LINES;
		gc->ngpio = CAMBOARD_GPIO_LINES;
		gc->get = camboard_gpio_get;
		gc->set = camboard_gpio_set;
		gc->get_direction = camboard_gpio_get_direction;
		gc->direction_input = camboard_gpio_direction_input;
		gc->direction_output = camboard_gpio_direction_output;

		ret = devm_gpiochip_add_data(dev, gc, bank);
		if (ret)
			return ret;
	}
	return 0;
}

/* ---- PWM ---- */

/* The core has checked the state (a period, a duty cycle within it) */
static int camboard_pwm_apply(struct pwm_chip *chip, struct pwm_device *pwm,
			      const struct pwm_state *state)
{
	struct camboard *cb = container_of(chip, struct camboard, pwm);

	cb->pwm_states[pwm->hwpwm] = *state;
	return 0;
}

static int camboard_pwm_get_state(struct pwm_chip *chip, struct pwm_device *pwm,
				  struct pwm_state *state)
{
	struct camboard *cb = container_of(chip, struct camboard, pwm);

	*state = cb->pwm_states[pwm->hwpwm];
	return 0;
}

static const struct pwm_ops camboard_pwm_ops = {
	.apply = camboard_pwm_apply,
	.get_state = camboard_pwm_get_state,
	.owner = THIS_MODULE,
};

static int camboard_pwm_probe(struct device *dev, struct camboard *cb)
{
	cb->pwm.dev = dev;
	cb->pwm.ops = &camboard_pwm_ops;
	cb->pwm.npwm = CAMBOARD_PWM_CHANNELS;
	return devm_pwmchip_add(dev, &cb->pwm);
}

/* ---- ADC ---- */

#define CAMBOARD_ADC_CHANNEL(n) {				\
	.type = IIO_VOLTAGE,					\
	.indexed = 1,						\
	.channel = (n),						\
	.info_mask_separate = BIT(IIO_CHAN_INFO_RAW),		\
}

static const struct iio_chan_spec camboard_adc_channels[] = {
	CAMBOARD_ADC_CHANNEL(0),
	CAMBOARD_ADC_CHANNEL(1),
	CAMBOARD_ADC_CHANNEL(2),
};

static int camboard_adc_read_raw(struct iio_dev *indio_dev,
				 const struct iio_chan_spec *chan,
				 int *val, int *val2, long mask)
{
	struct camboard_adc *adc = iio_priv(indio_dev);

	if (mask != IIO_CHAN_INFO_RAW)
		return -EINVAL;
	if (READ_ONCE(adc_failing) & BIT(chan->channel))
		return -EIO;
	mutex_lock(&adc->lock);
	*val = adc->raw[chan->channel];
	mutex_unlock(&adc->lock);
	return IIO_VAL_INT;
}

/* What the photodiode would give: a test writes the reading to report */
static int camboard_adc_write_raw(struct iio_dev *indio_dev,
				  const struct iio_chan_spec *chan,
				  int val, int val2, long mask)
{
	struct camboard_adc *adc = iio_priv(indio_dev);

	if (mask != IIO_CHAN_INFO_RAW || val < 0 || val > CAMBOARD_ADC_MAX || val2)
		return -EINVAL;
	mutex_lock(&adc->lock);
	adc->raw[chan->channel] = val;
	mutex_unlock(&adc->lock);
	return 0;
}

static const struct iio_info camboard_adc_info = {
	.read_raw = camboard_adc_read_raw,
	.write_raw = camboard_adc_write_raw,
};

static int camboard_adc_probe(struct device *dev)
{
	struct iio_dev *indio_dev;
	struct camboard_adc *adc;

	indio_dev = devm_iio_device_alloc(dev, sizeof(*adc));
	if (!indio_dev)
		return -ENOMEM;
	adc = iio_priv(indio_dev);
	mutex_init(&adc->lock);
	indio_dev->name = "camboard-adc";
	indio_dev->info = &camboard_adc_info;
	indio_dev->modes = INDIO_DIRECT_MODE;
	indio_dev->channels = camboard_adc_channels;
	indio_dev->num_channels = ARRAY_SIZE(camboard_adc_channels);
	return devm_iio_device_register(dev, indio_dev);
}

/* ---- NAND ---- */

static bool camboard_nand_is_bad(loff_t ofs)
{
	unsigned int block = div_u64(ofs, CAMBOARD_NAND_ERASE);
	unsigned int i;
	bool bad = false;

	kernel_param_lock(THIS_MODULE);
	for (i = 0; i < nr_badblocks && !bad; i++)
		bad = badblocks[i] == block;
	kernel_param_unlock(THIS_MODULE);
	return bad;
}

static int camboard_nand_block_isbad(struct mtd_info *mtd, loff_t ofs)
{
	return camboard_nand_is_bad(ofs);
}

/* A block that failed (UBI marks one it could not erase or write) joins the list */
static int camboard_nand_block_markbad(struct mtd_info *mtd, loff_t ofs)
{
	unsigned int block = div_u64(ofs, CAMBOARD_NAND_ERASE);
	int ret = 0;

	if (camboard_nand_is_bad(ofs))
		return 0;
	kernel_param_lock(THIS_MODULE);
	if (nr_badblocks == CAMBOARD_BAD_MAX)
		ret = -ENOSPC;
	else
		badblocks[nr_badblocks++] = block;
	kernel_param_unlock(THIS_MODULE);
	return ret;
}

static int camboard_store_write(struct camboard *cb, const void *buf, size_t len, loff_t at)
{
	ssize_t n = kernel_write(cb->store, buf, len, &at);

	if (n < 0)
		return n;
	return n == len ? 0 : -EIO;
}

/* Without a store the flash holds no data: it reads erased */
static int camboard_nand_read(struct mtd_info *mtd, loff_t from, size_t len,
			      size_t *retlen, u_char *buf)
{
	struct camboard *cb = container_of(mtd, struct camboard, nand);
	ssize_t n;

	if (!cb->store) {
		memset(buf, 0xff, len);
		*retlen = len;
		return 0;
	}
	n = kernel_read(cb->store, buf, len, &from);
	if (n < 0)
		return n;
	*retlen = n;
	return n == len ? 0 : -EIO;
}

/* A page takes a write once after its block's erase, as on the chip */
static int camboard_nand_check_page(struct camboard *cb, loff_t at)
{
	loff_t pos = at;
	ssize_t n;

	if (camboard_nand_is_bad(at))
		return -EIO;
	n = kernel_read(cb->store, cb->page, CAMBOARD_NAND_PAGE, &pos);
	if (n < 0)
		return n;
	if (n != CAMBOARD_NAND_PAGE)
		return -EIO;
	if (memchr_inv(cb->page, 0xff, CAMBOARD_NAND_PAGE)) {
		pr_warn_ratelimited(CAMBOARD_NAME ": page at 0x%llx written twice without an erase\n",
				    (unsigned long long)at);
		return -EIO;
	}
	return 0;
}

static int camboard_nand_write(struct mtd_info *mtd, loff_t to, size_t len,
			       size_t *retlen, const u_char *buf)
{
	struct camboard *cb = container_of(mtd, struct camboard, nand);
	size_t done;
	int ret = 0;

	*retlen = 0;
	if (!cb->store)
		return -EROFS;
	if (!IS_ALIGNED(to, CAMBOARD_NAND_PAGE) || !IS_ALIGNED(len, CAMBOARD_NAND_PAGE))
		return -EINVAL;
	mutex_lock(&cb->nand_lock);
	for (done = 0; done < len && !ret; done += CAMBOARD_NAND_PAGE)
		ret = camboard_nand_check_page(cb, to + done);
	if (!ret)
		ret = camboard_store_write(cb, buf, len, to);
	mutex_unlock(&cb->nand_lock);
	if (!ret)
		*retlen = len;
	return ret;
}

static int camboard_nand_erase(struct mtd_info *mtd, struct erase_info *instr)
{
	struct camboard *cb = container_of(mtd, struct camboard, nand);
	loff_t addr;
	int ret = 0;

	if (!cb->store)
		return -EROFS;
	if (!IS_ALIGNED(instr->addr, CAMBOARD_NAND_ERASE) ||
	    !IS_ALIGNED(instr->len, CAMBOARD_NAND_ERASE))
		return -EINVAL;
	mutex_lock(&cb->nand_lock);
	for (addr = instr->addr; addr < instr->addr + instr->len && !ret;
	     addr += CAMBOARD_NAND_ERASE) {
		ret = camboard_nand_is_bad(addr) ? -EIO :
		      camboard_store_write(cb, cb->erased, CAMBOARD_NAND_ERASE, addr);
		if (ret)
			instr->fail_addr = addr;
	}
	mutex_unlock(&cb->nand_lock);
	return ret;
}

/* Every write and erase is on the disk when it returns: O_DSYNC */
static int camboard_nand_open_store(struct device *dev, struct camboard *cb)
{
	struct file *store;

	store = filp_open(nand_store, O_RDWR | O_DSYNC | O_LARGEFILE, 0);
	if (IS_ERR(store))
		return dev_err_probe(dev, PTR_ERR(store), "cannot open %s\n", nand_store);
	if (i_size_read(store->f_mapping->host) < CAMBOARD_NAND_SIZE) {
		filp_close(store, NULL);
		dev_err(dev, "%s is smaller than the NAND's %u bytes\n", nand_store,
			CAMBOARD_NAND_SIZE);
		return -ENOSPC;
	}
	cb->page = devm_kmalloc(dev, CAMBOARD_NAND_PAGE, GFP_KERNEL);
	cb->erased = devm_kmalloc(dev, CAMBOARD_NAND_ERASE, GFP_KERNEL);
	if (!cb->page || !cb->erased) {
		filp_close(store, NULL);
		return -ENOMEM;
	}
	memset(cb->erased, 0xff, CAMBOARD_NAND_ERASE);
	cb->store = store;
	return 0;
}

static int camboard_nand_probe(struct device *dev, struct camboard *cb)
{
	struct mtd_info *mtd = &cb->nand;
	int ret;

	mutex_init(&cb->nand_lock);
	if (nand_store && *nand_store) {
		ret = camboard_nand_open_store(dev, cb);
		if (ret)
			return ret;
	}
	mtd->name = "camboard-nand";
	mtd->type = MTD_NANDFLASH;
	mtd->flags = cb->store ? MTD_WRITEABLE : 0;
	mtd->size = CAMBOARD_NAND_SIZE;
	mtd->erasesize = CAMBOARD_NAND_ERASE;
	mtd->writesize = CAMBOARD_NAND_PAGE;
	mtd->writebufsize = CAMBOARD_NAND_PAGE;
	mtd->oobsize = CAMBOARD_NAND_OOB;
	mtd->owner = THIS_MODULE;
	mtd->dev.parent = dev;
	mtd->_read = camboard_nand_read;
	mtd->_write = camboard_nand_write;
	mtd->_erase = camboard_nand_erase;
	mtd->_block_isbad = camboard_nand_block_isbad;
	mtd->_block_markbad = camboard_nand_block_markbad;
	ret = mtd_device_register(mtd, camboard_nand_parts, ARRAY_SIZE(camboard_nand_parts));
	if (ret && cb->store)
		filp_close(cb->store, NULL);
	return ret;
}

/* ---- the media driver's state files ---- */

/* One file a sub-module in /proc/media, empty until a test writes it */
static const char *const camboard_media_names[] = {
	"acodec", "adec", "aenc", "ai", "ao", "chnl", "h264e", "h265e", "isp", "ive", "jpege",
	"rc", "rgn", "sys", "vb", "vda", "venc", "vgs", "vi", "vo", "vpss",
};

struct camboard_media {
	struct mutex lock;	/* reads against writes */
	size_t len;
	char text[SZ_4K];
};

static struct camboard_media camboard_media[ARRAY_SIZE(camboard_media_names)];
static struct proc_dir_entry *camboard_media_dir;

static int camboard_media_show(struct seq_file *m, void *v)
{
	struct camboard_media *state = m->private;

	mutex_lock(&state->lock);
	seq_write(m, state->text, state->len);
	mutex_unlock(&state->lock);
	return 0;
}

static int camboard_media_open(struct inode *inode, struct file *file)
{
	return single_open(file, camboard_media_show, pde_data(inode));
}

/* A write from the file's start replaces the text */
static ssize_t camboard_media_write(struct file *file, const char __user *buf, size_t len,
				    loff_t *ppos)
{
	struct camboard_media *state = pde_data(file_inode(file));
	ssize_t ret = len;

	if (*ppos < 0 || *ppos + len > sizeof(state->text))
		return -EFBIG;
	mutex_lock(&state->lock);
	if (copy_from_user(state->text + *ppos, buf, len)) {
		ret = -EFAULT;
	} else {
		*ppos += len;
		state->len = *ppos;
	}
	mutex_unlock(&state->lock);
	return ret;
}

static const struct proc_ops camboard_media_ops = {
	.proc_open = camboard_media_open,
	.proc_read = seq_read,
	.proc_write = camboard_media_write,
	.proc_lseek = seq_lseek,
	.proc_release = single_release,
};

static int camboard_media_probe(void)
{
	unsigned int i;

	camboard_media_dir = proc_mkdir("media", NULL);
	if (!camboard_media_dir)
		return -ENOMEM;
	for (i = 0; i < ARRAY_SIZE(camboard_media_names); i++) {
		mutex_init(&camboard_media[i].lock);
		if (!proc_create_data(camboard_media_names[i], 0644, camboard_media_dir,
				      &camboard_media_ops, &camboard_media[i])) {
			proc_remove(camboard_media_dir);
			return -ENOMEM;
		}
	}
	return 0;
}

/* ---- the board ---- */

static int __init camboard_probe(struct platform_device *pdev)
{
	struct device *dev = &pdev->dev;
	struct camboard *cb;
	int ret;

	cb = devm_kzalloc(dev, sizeof(*cb), GFP_KERNEL);
	if (!cb)
		return -ENOMEM;
	platform_set_drvdata(pdev, cb);

	ret = camboard_gpio_probe(dev, cb);
	if (ret)
		return dev_err_probe(dev, ret, "cannot add the GPIO banks\n");
	ret = camboard_pwm_probe(dev, cb);
	if (ret)
		return dev_err_probe(dev, ret, "cannot add the PWM chip\n");
	ret = camboard_adc_probe(dev);
	if (ret)
		return dev_err_probe(dev, ret, "cannot add the ADC\n");
	ret = camboard_media_probe();
	if (ret)
		return dev_err_probe(dev, ret, "cannot add /proc/media\n");
	ret = camboard_nand_probe(dev, cb);
	if (ret) {
		proc_remove(camboard_media_dir);
		return dev_err_probe(dev, ret, "cannot add the NAND\n");
	}
	return 0;
}

static int camboard_remove(struct platform_device *pdev)
{
	struct camboard *cb = platform_get_drvdata(pdev);
	int ret = mtd_device_unregister(&cb->nand);

	proc_remove(camboard_media_dir);

	if (!ret && cb->store)
		filp_close(cb->store, NULL);
	return ret;
}

static struct platform_driver camboard_driver = {
	.driver = {
		.name = CAMBOARD_NAME,
	},
	.remove = camboard_remove,
};

static struct platform_device *camboard_pdev;

/* One device, probed at once: a board that cannot be made fails the load */
static int __init camboard_init(void)
{
	camboard_pdev = platform_create_bundle(&camboard_driver, camboard_probe,
					       NULL, 0, NULL, 0);
	return PTR_ERR_OR_ZERO(camboard_pdev);
}
module_init(camboard_init);

static void __exit camboard_exit(void)
{
	platform_device_unregister(camboard_pdev);
	platform_driver_unregister(&camboard_driver);
}
module_exit(camboard_exit);

MODULE_DESCRIPTION("The camera board's GPIO banks, PWM, ADC, NAND and media driver state");
MODULE_LICENSE("GPL");
