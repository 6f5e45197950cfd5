/* Tuning-data tools: the amalgam of a built configuration, its split into
 * files, the readers of saved blocks, and hand-made truncated or hostile
 * files, all in a temporary root. */
#include "ik_cfg_files_fixture.h"
#include "ik_tuning_files.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

using iktest::count_lines;
using iktest::has_msg;
using iktest::IkCfgFiles;
using iktest::StdoutCapture;

namespace
{

uint32_t rd32(const uint8_t *p)
{
	uint32_t v;
	memcpy(&v, p, 4);
	return v;
}

void wr32(std::vector<uint8_t> &v, size_t off, uint32_t x)
{
	memcpy(&v[off], &x, 4);
}

std::vector<uint8_t> slice(const std::vector<uint8_t> &v, size_t off, size_t n)
{
	if (off + n > v.size())
		return {};
	return std::vector<uint8_t>(v.begin() + (long)off, v.begin() + (long)(off + n));
}

/* The basic amalgam's file names, offsets and sizes. The first thirteen
 * offsets are fixed; the rest follow in order, the geometric-warp tables
 * closing the image. */
struct Table {
	const char *stem;
	uint32_t off;
	uint32_t size;
};
const Table kBasic[24] = {
    {"01_cc_reg", 128, 2304},           {"02_cc_3d_a", 2432, 16384},
    {"03_cc_out", 18816, 1024},         {"04_thresh_dark", 19840, 768},
    {"05_thresh_hot", 20608, 768},      {"06_local_exposure_gain", 21376, 512},
    {"07_cmf_table", 21888, 48},        {"08_chroma_scale_gain", 21936, 256},
    {"09_fir1_A", 22192, 256},          {"10_fir2_A", 22448, 256},
    {"11_coring_A", 22704, 256},        {"12_video_mctf", 22960, 10064},
    {"13_final_sharpen", 33024, 12752}, {"14_amplin_table0", 45776, 706},
    {"15_amplin_table1", 46482, 706},   {"16_preblend_alpha", 47188, 64},
    {"17_ce_coring", 47252, 64},        {"18_ce_output_table", 47316, 512},
    {"19_ce_upsamp_coeff", 47828, 256}, {"20_vignette", 48084, 8720},
    {"21_ca_warp_h", 56804, 3072},      {"22_ca_warp_v", 59876, 3072},
    {"23_geo_warp_h", 66520, 3072},     {"24_geo_warp_v", 69592, 3072},
};
constexpr uint32_t kIsocfg = 62948;

class IkAmalgam : public IkCfgFiles
{
      protected:
	/* Builds and posts configuration 0 with its video-MCTF and final-sharpen
	 * tables packed and an amp-linearization command in its HDR part, then
	 * dumps it. */
	void dump_posted(std::string *text = nullptr)
	{
		up();
		ik_flag_set(body()->update_flags, IK_UPD_HDR_AMP_LINEAR(0));
		ik_flag_set(body()->update_flags, IK_UPD_VIDEO_MCTF);
		ASSERT_EQ(post(0), 0);
		img_dsp_mode m = mode(0, 0, 0);
		StdoutCapture out;
		ASSERT_EQ(vors_img_dsp_low_iso_amalgam_data_dump(&m, file_.c_str()), 0);
		if (text)
			*text = out.text();
		image_ = read_file(file_);
	}
	/* The table a command of a queue names. */
	uint32_t queue_table(uint32_t queue, uint32_t code, unsigned word)
	{
		const uint8_t *q = at(queue);
		for (unsigned s = 0; s < 10; s++) {
			if (rd32(q + 128 * s) == code)
				return rd32(q + 128 * s + 4 * word);
		}
		return 0;
	}
	int separate(const std::string &prefix, bool advanced = false, std::string *text = nullptr)
	{
		StdoutCapture out;
		int rc = advanced ? vors_img_dsp_adv_low_iso_amalgam_data_separate(prefix.c_str())
		                  : vors_img_dsp_low_iso_amalgam_data_separate(prefix.c_str());
		if (text)
			*text = out.text();
		return rc;
	}
	std::string prefix() const
	{
		return root_ + "/iso";
	}

	std::string file_ = "";
	std::vector<uint8_t> image_;

	void SetUp() override
	{
		IkCfgFiles::SetUp();
		file_ = root_ + "/iso_isocfg.bin";
	}
};

TEST_F(IkAmalgam, DumpPlacesEveryTableAndLeavesTheConfigurationPhysical)
{
	std::string text;
	dump_posted(&text);
	ASSERT_EQ(image_.size(), 72664u);
	EXPECT_TRUE(has_msg(text, "[IK][Error]vors_img_dsp_low_iso_amalgam_data_dump() ",
	                    "vors_img_dsp_low_iso_amalgam_data_dump CA data is not ready!\n"));
	const img_dsp_iso_cfg *c = cfg(0);
	const ik_liso_main_basic &b = c->main.basic;
	EXPECT_EQ(rd32(image_.data()), 1u) << "version_number";
	EXPECT_EQ(image_[4], b.share.diag_case_id);
	EXPECT_EQ(rd32(image_.data() + 8), kIsocfg);
	for (unsigned i = 0; i < 24; i++)
		EXPECT_EQ(rd32(image_.data() + 12 + 4 * i), kBasic[i].off) << kBasic[i].stem;

	const uint32_t fields[13] = {b.color.cc_reg,
	                             b.color.cc_3d,
	                             b.color.cc_out,
	                             b.liso.dark_pixel_threshold,
	                             b.liso.hot_pixel_threshold,
	                             b.color.gain_curve_table_addr,
	                             b.liso.chroma_median_k_table,
	                             b.color.gain_curver_addr,
	                             b.liso.sharpen.fir1,
	                             b.liso.sharpen.fir2,
	                             b.liso.sharpen.coring,
	                             b.flow.video_mctf,
	                             b.flow.final_sharpen};
	for (unsigned i = 0; i < 13; i++) {
		ASSERT_NE(fields[i], 0u) << kBasic[i].stem;
		EXPECT_TRUE(is_phys(fields[i])) << kBasic[i].stem << " is physical again";
		EXPECT_EQ(slice(image_, kBasic[i].off, kBasic[i].size), bytes(fields[i], kBasic[i].size))
		    << kBasic[i].stem;
	}
	EXPECT_TRUE(is_phys(b.common.vignette_gain));
	EXPECT_EQ(slice(image_, kBasic[19].off, 8720), bytes(b.common.vignette_gain, 8720));
	EXPECT_TRUE(is_phys(c->ce.contrast_enhancement_cmd_queue_daddr));
	uint32_t ce = c->ce.contrast_enhancement_cmd_queue_daddr;
	EXPECT_EQ(slice(image_, kBasic[16].off, 64), bytes(queue_table(ce, 0x09002014, 5), 64));
	EXPECT_EQ(slice(image_, kBasic[17].off, 512), bytes(queue_table(ce, 0x09002015, 3), 512));
	EXPECT_EQ(slice(image_, kBasic[18].off, 256), bytes(queue_table(ce, 0x09002012, 9), 256));

	img_dsp_cfg_id hid{0, 0, {}};
	void *h = nullptr;
	ASSERT_EQ(img_dsp_core_utility_get_hdr_config(&hid, &h), 0);
	const img_dsp_hdr_cfg *hdr = (const img_dsp_hdr_cfg *)h;
	EXPECT_TRUE(is_phys(hdr->blend_cmds_daddr[0][0]));
	uint32_t amp0 = queue_table(hdr->blend_cmds_daddr[0][0], 0x09001003, 10);
	uint32_t amp1 = queue_table(hdr->blend_cmds_daddr[0][1], 0x09001003, 10);
	ASSERT_NE(amp0, 0u);
	ASSERT_NE(amp1, 0u);
	EXPECT_TRUE(is_phys(amp0));
	EXPECT_EQ(slice(image_, kBasic[13].off, 706), bytes(amp0, 706));
	EXPECT_EQ(slice(image_, kBasic[14].off, 706), bytes(amp1, 706));
	EXPECT_EQ(slice(image_, kBasic[15].off, 64), std::vector<uint8_t>(64, 0))
	    << "no pre-blend in one exposure";
	for (unsigned i : {20u, 21u, 22u, 23u})
		EXPECT_EQ(slice(image_, kBasic[i].off, 3072), std::vector<uint8_t>(3072, 0))
		    << kBasic[i].stem;

	/* The record without the library's bookkeeping. */
	EXPECT_EQ(slice(image_, kIsocfg, 96), std::vector<uint8_t>(96, 0));
	EXPECT_EQ(slice(image_, kIsocfg + 804, 28), std::vector<uint8_t>(28, 0));
	uint16_t width;
	memcpy(&width, &image_[kIsocfg + 96 + 512], 2);
	EXPECT_EQ(width, 1920);
	EXPECT_EQ(slice(image_, kIsocfg + 796, 8),
	          std::vector<uint8_t>((const uint8_t *)&c->ce, (const uint8_t *)&c->ce + 8));
}

TEST_F(IkAmalgam, FailedWriteStillLeavesTheConfigurationPhysical)
{
	up();
	ASSERT_EQ(post(0), 0);
	img_dsp_mode m = mode(0, 0, 0);
	std::string bad = root_ + "/missing/dir/x.bin";
	StdoutCapture out;
	EXPECT_EQ(vors_img_dsp_low_iso_amalgam_data_dump(&m, bad.c_str()), -1);
	EXPECT_TRUE(has_msg(out.text(), "[IK][Warning]vors_img_dsp_low_iso_amalgam_data_dump() ",
	                    "call write file " + bad + "\n"));
	const ik_liso_main_basic &b = cfg(0)->main.basic;
	for (uint32_t a :
	     {b.color.cc_reg, b.color.cc_3d, b.flow.video_mctf, b.flow.final_sharpen, b.liso.sharpen.fir1,
	      b.common.vignette_gain, cfg(0)->ce.contrast_enhancement_cmd_queue_daddr})
		EXPECT_TRUE(is_phys(a)) << std::hex << a;
	img_dsp_mode other = mode(2, 0, 0);
	EXPECT_EQ(vors_img_dsp_low_iso_amalgam_data_dump(&other, file_.c_str()), -1);
	img_dsp_mode none = mode(0, 0, 9);
	EXPECT_EQ(vors_img_dsp_low_iso_amalgam_data_dump(&none, file_.c_str()), -1);
	EXPECT_FALSE(exists(file_));
}

TEST_F(IkAmalgam, SeparateWritesEveryTableAndItsParts)
{
	dump_posted();
	std::string text;
	ASSERT_EQ(separate(prefix(), false, &text), 0);
	for (const Table &t : kBasic)
		EXPECT_EQ(read_file(prefix() + "_" + t.stem + ".bin"), slice(image_, t.off, t.size))
		    << t.stem;
	EXPECT_EQ(read_file(prefix() + "_01_cc_reg.bin"), bytes(cfg(0)->main.basic.color.cc_reg, 2304));
	const uint32_t mctf = kBasic[11].off, fs = kBasic[12].off;
	EXPECT_EQ(read_file(prefix() + "_12_video_mctf_curve_b.bin"), slice(image_, mctf + 2824, 192));
	EXPECT_EQ(read_file(prefix() + "_12_video_mctf_ref_luma_remap.bin"), slice(image_, mctf + 9808, 256));
	EXPECT_EQ(read_file(prefix() + "_13_final_sharpen_shpb_config.bin"), slice(image_, fs + 16, 696));
	EXPECT_EQ(read_file(prefix() + "_13_final_sharpen_shrp_3d_lvl_u.bin"),
	          slice(image_, fs + 10704, 2048));
	const char *mctf_parts[] = {"mctf_config",   "frame_act",     "motion_vectors",  "histogram_0",
	                            "histogram_1",   "histogram_2",   "histogram_3",     "curve_b",
	                            "curve_c",       "curve_d",       "tone_adj_config", "tone_hist_tbl",
	                            "mctf_3d_lvl_l", "mctf_3d_lvl_u", "curve_sb2",       "ref_luma_remap"};
	size_t total = 0;
	for (const char *p : mctf_parts)
		total += read_file(prefix() + "_12_video_mctf_" + p + ".bin").size();
	EXPECT_EQ(total, 10064u) << "the parts cover the table";
	const char *fs_parts[] = {
	    "mcts_config",      "shpb_config",      "shpc_config",   "shpb_lpf_coef_1", "shpb_lpf_coef_2",
	    "shpc_lpf_coef_1",  "shpc_lpf_coef_2",  "shpb_alpha",    "shpc_alpha",      "shpb_coring1_tbl",
	    "shpc_coring1_tbl", "shpb_coring2_tbl", "shrp_3d_lvl_l", "shrp_3d_lvl_u"};
	total = 0;
	for (const char *p : fs_parts)
		total += read_file(prefix() + "_13_final_sharpen_" + p + ".bin").size();
	EXPECT_EQ(total, 12752u);

	EXPECT_EQ(count_lines(text, "[IK]table_of_contents_offset.cc_reg: 80"), 1);
	EXPECT_EQ(count_lines(text, "[IK]table_of_contents_offset.final_sharpen: 8100"), 1);
	EXPECT_EQ(count_lines(text, "[IK]table_of_contents_offset.geo_warp_v: 10fd8"), 1);
	/* The first configuration of a context updates every comparable table. */
	EXPECT_EQ(count_lines(text, "[IK]isocfg.01_cc_reg_update: 1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]isocfg.05_thresh_hot_update: 1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]isocfg.07_cmf_table_update: 1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]isocfg.video_mctf_update_mask: c381"), 1);
}

TEST_F(IkAmalgam, HostileFilesAreRefusedTableByTable)
{
	dump_posted();
	/* Too short for its table of contents, and no file at all. */
	write_file(root_ + "/short_isocfg.bin", std::vector<uint8_t>(100, 0));
	std::string text;
	EXPECT_EQ(separate(root_ + "/short", false, &text), -1);
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_amalgam_data_separate() ",
	                    "call read " + root_ + "/short_isocfg.bin fail\n"));
	EXPECT_FALSE(exists(root_ + "/short_01_cc_reg.bin"));
	EXPECT_EQ(separate(root_ + "/none"), -1);
	EXPECT_EQ(vors_img_dsp_low_iso_amalgam_data_separate(nullptr), -1);

	/* Offsets past the end, wrapping and cut short: those tables alone are
	 * refused, the others written. */
	std::vector<uint8_t> bad = image_;
	wr32(bad, 12 + 4 * 0, 0xFFFFFF00u);    /* cc_reg: offset + size wraps */
	wr32(bad, 12 + 4 * 11, 72664 - 10000); /* video MCTF: runs past the end */
	wr32(bad, 8, 0x7FFFFFFFu);             /* the record */
	write_file(root_ + "/bad_isocfg.bin", bad);
	EXPECT_EQ(separate(root_ + "/bad", false, &text), -1);
	EXPECT_FALSE(exists(root_ + "/bad_01_cc_reg.bin"));
	EXPECT_FALSE(exists(root_ + "/bad_12_video_mctf.bin"));
	EXPECT_FALSE(exists(root_ + "/bad_12_video_mctf_curve_b.bin"));
	EXPECT_EQ(read_file(root_ + "/bad_02_cc_3d_a.bin"), slice(image_, 2432, 16384));
	EXPECT_EQ(read_file(root_ + "/bad_13_final_sharpen_mcts_config.bin"), slice(image_, 33024, 16));
	EXPECT_NE(text.find("01_cc_reg at 0xffffff00 (2304 bytes) lies beyond the 72664 bytes read"),
	          std::string::npos);
	EXPECT_EQ(text.find("isocfg.01_cc_reg_update"), std::string::npos) << "no record to read";

	std::vector<uint8_t> cut(image_.begin(), image_.begin() + 30000);
	write_file(root_ + "/cut_isocfg.bin", cut);
	EXPECT_EQ(separate(root_ + "/cut"), -1);
	EXPECT_EQ(read_file(root_ + "/cut_11_coring_A.bin"), slice(image_, 22704, 256));
	EXPECT_FALSE(exists(root_ + "/cut_12_video_mctf.bin"));
	EXPECT_FALSE(exists(root_ + "/cut_24_geo_warp_v.bin"));

	/* A file that cannot be written is reported; the rest go on. */
	std::filesystem::create_directory(prefix() + "_03_cc_out.bin");
	EXPECT_EQ(separate(prefix(), false, &text), -1);
	EXPECT_TRUE(has_msg(text, "[IK][Warning]vors_img_dsp_low_iso_amalgam_data_separate() ",
	                    "call write file " + prefix() + "_03_cc_out.bin fail\n"));
	EXPECT_TRUE(exists(prefix() + "_04_thresh_dark.bin"));
}

TEST_F(IkAmalgam, AdvancedSeparateFollowsItsOwnCatalog)
{
	const std::vector<std::pair<const char *, uint32_t>> tables = {
	    {"00_vignette_gain", 8720},
	    {"01_local_exposure", 512},
	    {"02_chroma_scale", 256},
	    {"03_cc_reg", 2304},
	    {"04_cc_3d", 16384},
	    {"05_cc_out", 1024},
	    {"06_thresh_dark", 768},
	    {"07_thresh_hot", 768},
	    {"08_cmf_table", 48},
	    {"09_fir1", 256},
	    {"10_fir2", 256},
	    {"11_coring", 256},
	    {"12_video_mctf", 10064},
	    {"13_final_sharpen", 12752},
	    {"14_motion_detect_fir1", 256},
	    {"15_mctf_passthrough", 10064},
	    {"16_mcts_MoASF", 12752},
	    {"17_CC_reg_motion_combine", 2304},
	    {"18_CC_3d_motion_combine", 16384},
	    {"19_CC_out_motion_combine", 1024},
	    {"20_CC_reg_motion_combine_up", 2304},
	    {"21_CC_3d_motion_combine_up", 16384},
	    {"22_video_mctfB", 10064},
	    {"23_final_sharpenB", 12752},
	};
	/* A hand-made image: the record first, then the tables in reverse, each
	 * filled with its own byte. */
	std::vector<uint8_t> img(128 + 832, 0);
	wr32(img, 0, 7);
	img[4] = 103;
	wr32(img, 8, 128);
	std::vector<uint32_t> off(24);
	for (int i = 23; i >= 0; i--) {
		off[i] = (uint32_t)img.size();
		wr32(img, 12 + 4 * i, off[i]);
		img.insert(img.end(), tables[i].second, (uint8_t)(i + 1));
	}
	img[128 + 96 + 5] = 4; /* adv_mode */
	write_file(root_ + "/adv_isocfg.bin", img);
	std::string text;
	ASSERT_EQ(separate(root_ + "/adv", true, &text), 0);
	for (int i = 0; i < 24; i++)
		EXPECT_EQ(read_file(root_ + "/adv_" + tables[i].first + ".bin"),
		          std::vector<uint8_t>(tables[i].second, (uint8_t)(i + 1)))
		    << tables[i].first;
	EXPECT_EQ(read_file(root_ + "/adv_22_video_mctfB_curve_sb2.bin"), std::vector<uint8_t>(192, 23));
	EXPECT_EQ(read_file(root_ + "/adv_23_final_sharpenB_shpc_alpha.bin"), std::vector<uint8_t>(896, 24));
	EXPECT_FALSE(exists(root_ + "/adv_15_mctf_passthrough_curve_b.bin")) << "only the named tables split";
	EXPECT_EQ(count_lines(text, "[IK]table_of_contents.diag_case_id: 103"), 1);
	char line[64];
	snprintf(line, sizeof(line), "[IK]table_of_contents_offset.final_sharpenB: %x", off[23]);
	EXPECT_EQ(count_lines(text, line), 1);
}

/* ---- readers of saved blocks ---------------------------------------------------- */

class IkParse : public IkCfgFiles
{
      protected:
	int parse(int (*fn)(const char *), const std::string &path, std::string *text)
	{
		StdoutCapture out;
		int rc = fn(path.c_str());
		*text = out.text();
		return rc;
	}
};

TEST_F(IkParse, AdvancedMainPart)
{
	ik_liso_main_advanced m{};
	m.share.iso_config_tag = 77;
	m.share.adv_mode = 4;
	m.cliso.width_motion = 640;
	m.vert_warp[4].warp_grid_array_height = 33;
	std::vector<uint8_t> file((const uint8_t *)&m, (const uint8_t *)&m + sizeof(m));
	write_file(root_ + "/adv.bin", file);
	std::string text;
	ASSERT_EQ(parse(parse_adv_isocfg, root_ + "/adv.bin", &text), 0);
	EXPECT_TRUE(has_msg(text, "[IK][Debug]parse_adv_isocfg() ", "adv_liso_cfg size : 676\n"));
	EXPECT_TRUE(has_msg(text, "[IK][Debug]parse_adv_isocfg() ", "basic_liso_cfg size : 616\n"));
	EXPECT_EQ(count_lines(text, "[IK]iso_config_tag = 77"), 1);
	EXPECT_EQ(count_lines(text, "[IK]------calib------"), 1);
	EXPECT_EQ(count_lines(text, "[IK]width_motion = 640"), 1);
	EXPECT_EQ(count_lines(text, "[IK]vert_warp[4].warp_grid_array_height = 33"), 1);

	/* A short file: reported, the rest of the block printed as zero. */
	write_file(root_ + "/short.bin", std::vector<uint8_t>(100, 0xFF));
	EXPECT_EQ(parse(parse_adv_isocfg, root_ + "/short.bin", &text), -1);
	EXPECT_TRUE(
	    has_msg(text, "[IK][Warning]parse_adv_isocfg() ", "call read " + root_ + "/short.bin from 0x"));
	EXPECT_EQ(count_lines(text, "[IK]iso_config_tag = 4294967295"), 1);
	EXPECT_EQ(count_lines(text, "[IK]width_motion = 0"), 1);
	EXPECT_EQ(parse(parse_adv_isocfg, root_ + "/none.bin", &text), -1);
	EXPECT_EQ(count_lines(text, "[IK]iso_config_tag = 0"), 1);
	EXPECT_EQ(parse(parse_adv_isocfg, "", &text), -1);
}

TEST_F(IkParse, VideoMctfTable)
{
	std::vector<uint8_t> t(10064, 0);
	t[48] = 9;         /* max_change_B of Y */
	t[58] = 4;         /* max_change_C of Cr */
	t[192] = 0x53;     /* wide_weight: Y 3, Cb 5 */
	t[264 + 1] = 17;   /* iso_lvl_ctl low of Cb */
	t[704] = 0x52;     /* count1 2, count2 5 */
	t[2824 + 5] = 200; /* a curve entry */
	write_file(root_ + "/mctf.bin", t);
	std::string text;
	ASSERT_EQ(parse(parse_mctf, root_ + "/mctf.bin", &text), 0);
	const char *headings[] = {"configuration",
	                          "frame_activity",
	                          "motion_vectors",
	                          "histogram0",
	                          "histogram1",
	                          "histogram2",
	                          "histogram3",
	                          "curveB",
	                          "curveC",
	                          "curveD",
	                          "tone_hist_config",
	                          "tone_hist_table",
	                          "mctf_3d_level_lower",
	                          "mctf_3d_level_upper",
	                          "curve_sbt",
	                          "ref_luma_remap_tab"};
	size_t pos = text.find("[IK]SHOW HW MCTF;\n");
	ASSERT_NE(pos, std::string::npos);
	for (const char *h : headings) {
		size_t next = text.find(std::string("[IK]----") + h + "----\n", pos);
		ASSERT_NE(next, std::string::npos) << h;
		pos = next;
	}
	EXPECT_EQ(count_lines(text, "[IK]max_change_B.y = 9"), 1);
	EXPECT_EQ(count_lines(text, "[IK]max_change_C.cr = 4"), 1);
	EXPECT_EQ(count_lines(text, "[IK]wide_weight.y = 3"), 1);
	EXPECT_EQ(count_lines(text, "[IK]wide_weight.cb = 5"), 1);
	EXPECT_EQ(count_lines(text, "[IK]iso_lvl_ctl.low.cb = 17"), 1);
	EXPECT_EQ(count_lines(text, "[IK]temporal_adjust_max_counts.count1 = 2"), 1);
	EXPECT_EQ(count_lines(text, "[IK]temporal_adjust_max_counts.count2 = 5"), 1);
	size_t curve = text.find("[IK]----curveB----\n");
	EXPECT_EQ(text.find("[IK]   0:   0   0   0   0   0 200   0", curve), curve + 19);

	write_file(root_ + "/mctf_short.bin", std::vector<uint8_t>(10063, 1));
	EXPECT_EQ(parse(parse_mctf, root_ + "/mctf_short.bin", &text), -1);
	EXPECT_NE(text.find("[IK]----ref_luma_remap_tab----\n"), std::string::npos) << "printed anyway";
	size_t remap = text.find("[IK]----ref_luma_remap_tab----\n");
	EXPECT_NE(
	    text.find("[IK] 240:   1   1   1   1   1   1   1   1   1   1   1   1   1   1   1   0\n", remap),
	    std::string::npos)
	    << "the byte not read is zero";
}

TEST_F(IkParse, FinalSharpenTableOfABuiltConfiguration)
{
	up();
	ik_flag_set(body()->update_flags, IK_UPD_FINAL_SHP_BOTH);
	ASSERT_EQ(post(0), 0);
	write_file(root_ + "/fs.bin", bytes(cfg(0)->main.basic.flow.final_sharpen, 12752));
	std::string text;
	ASSERT_EQ(parse(parse_final_sharp, root_ + "/fs.bin", &text), 0);
	EXPECT_EQ(text.rfind("[IK]SHOW HW FINAL SHP\n", 0), 0u);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].REG_SHPB_ENABLE: 1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[1].REG_SHPB_ENABLE: 1"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].REG_SHPB_OUTPUT_HIGH: 255"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].REG_SHPB_FIR1_CLIP_LOW = -4096"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].REG_SHPB_FIR1_CLIP_HIGH = 4095"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[1].REG_SHPB_FIR1_CLIP_LOW = -4096"), 1);
	/* Default level blocks: T0 10, T1 12, T2 20, T3 22 in the Y column. */
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].level2.low.y = 10"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].level2.high0.y = 22"), 1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[0].level2.low_val.y = 16"), 1);

	EXPECT_EQ(parse(parse_final_sharp, root_ + "/none.bin", &text), -1);
	EXPECT_EQ(count_lines(text, "[IK]sharp_config[1].REG_SHPB_ENABLE: 0"), 1);
}

} // namespace
