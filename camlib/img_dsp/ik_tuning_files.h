/*
 * Tuning-data files: the amalgam image of a configuration and its tables
 * (a table of contents, then the tables at the offsets it records), its
 * split into one file per table, and the readers that show hardware blocks
 * saved to files. The entry points are declared in img_dsp.h.
 */
#ifndef CAMLIB_IMG_DSP_IK_TUNING_FILES_H
#define CAMLIB_IMG_DSP_IK_TUNING_FILES_H

#include <stdint.h>

#define IK_AMALGAM_SIZE 72664u
#define IK_AMALGAM_VERSION 1u
/* Tables an amalgam holds beside the configuration record. */
#define IK_AMALGAM_TABLES 24u

/* The table of contents at the head of an amalgam: byte offsets of the
 * configuration record (with its bookkeeping cleared), then of each table
 * in the order of the layout's file names. */
typedef struct ik_amalgam_toc {
	uint32_t version_number;
	uint8_t diag_case_id;
	uint8_t bayer_pattern;
	uint16_t reserved0;
	uint32_t isocfg;
	uint32_t table[IK_AMALGAM_TABLES];
	uint8_t reserved1[20];
} ik_amalgam_toc;
static_assert(sizeof(ik_amalgam_toc) == 128, "amalgam table of contents");

#endif
