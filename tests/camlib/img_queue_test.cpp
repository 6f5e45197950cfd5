/* The 3A service's message queue over real System V IPC, each test with
 * its own root prefix and so its own key. */
#include "img_queue.h"

#include <gtest/gtest.h>

#include <errno.h>
#include <stdlib.h>
#include <sys/ipc.h>
#include <sys/msg.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <string>
#include <vector>

namespace
{

using testing::internal::CaptureStdout;
using testing::internal::GetCapturedStdout;

class ImgQueue : public ::testing::Test
{
      protected:
	void SetUp() override
	{
		char tmpl[] = "/tmp/img_queue_test.XXXXXX";
		ASSERT_NE(mkdtemp(tmpl), nullptr);
		root_ = tmpl;
		ASSERT_EQ(mkdir((root_ + "/tmp").c_str(), 0755), 0);
		setenv("VISTRAD_ROOT", root_.c_str(), 1);
		qid_ = img_queue();
		ASSERT_GE(qid_, 0);
	}
	void TearDown() override
	{
		if (qid_ >= 0)
			msgctl(qid_, IPC_RMID, nullptr);
		unlink((root_ + IMG_QUEUE_PATH).c_str());
		rmdir((root_ + "/tmp").c_str());
		rmdir(root_.c_str());
		unsetenv("VISTRAD_ROOT");
	}
	std::string root_;
	int qid_ = -1;
};

TEST_F(ImgQueue, KeyComesFromTheFileUnderTheRoot)
{
	struct stat st;
	EXPECT_EQ(stat((root_ + IMG_QUEUE_PATH).c_str(), &st), 0) << "made so that its key is not -1";
	EXPECT_EQ(img_queue(), qid_) << "the same queue on every use";
	EXPECT_EQ(ftok((root_ + IMG_QUEUE_PATH).c_str(), 6) != (key_t)-1, true);
}

TEST_F(ImgQueue, MessagesComeOutByTypeWithTheirBytes)
{
	const uint8_t cmd[16] = {28, 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 4, 5, 6, 7, 8};
	const uint64_t mode = 3;
	ASSERT_EQ(img_queue_send(qid_, IMG_MSG_COMMAND, cmd, sizeof(cmd)), 0);
	ASSERT_EQ(img_queue_send(qid_, IMG_MSG_WORK_MODE, &mode, sizeof(mode)), 0);
	const uint32_t words[2] = {0x11223344, 7};
	ASSERT_EQ(img_queue_send_reply(qid_, 1, words, 2), 0);

	img_msg m;
	ASSERT_EQ(img_queue_recv(qid_, IMG_MSG_WORK_MODE, &m, 0), 8);
	EXPECT_EQ(memcmp(m.text, &mode, 8), 0);
	ASSERT_EQ(img_queue_recv(qid_, IMG_MSG_REPLY, &m, 0), IMG_QUEUE_TEXT);
	const uint8_t reply[16] = {1, 0, 0, 0, 0, 0, 0, 0, 0x44, 0x33, 0x22, 0x11, 7, 0, 0, 0};
	EXPECT_EQ(memcmp(m.text, reply, 16), 0);
	ASSERT_EQ(img_queue_recv(qid_, IMG_MSG_COMMAND, &m, 0), 16);
	EXPECT_EQ(m.type, IMG_MSG_COMMAND);
	EXPECT_EQ(memcmp(m.text, cmd, 16), 0);
	errno = 0;
	EXPECT_EQ(img_queue_recv(qid_, 0, &m, 0), -1);
	EXPECT_EQ(errno, ENOMSG);

	EXPECT_EQ(img_queue_send_reply(qid_, 0, nullptr, 1), -1);
	EXPECT_EQ(img_queue_send_reply(qid_, 0, words, 3), -1);
}

TEST_F(ImgQueue, OversizeMessageIsTakenOffAndRefused)
{
	struct {
		long type;
		uint8_t text[2000];
	} big = {IMG_MSG_COMMAND, {}};
	ASSERT_EQ(msgsnd(qid_, &big, sizeof(big.text), IPC_NOWAIT), 0);
	const uint64_t ok = 42;
	ASSERT_EQ(img_queue_send(qid_, IMG_MSG_COMMAND, &ok, sizeof(ok)), 0);
	img_msg m;
	CaptureStdout();
	ASSERT_EQ(img_queue_recv(qid_, IMG_MSG_COMMAND, &m, 1), 8);
	EXPECT_EQ(GetCapturedStdout(), "img_queue: message of type 1 longer than 1016 bytes refused\n");
	EXPECT_EQ(memcmp(m.text, &ok, 8), 0);
}

TEST_F(ImgQueue, FullQueueRefusesWithoutWaiting)
{
	struct msqid_ds ds;
	ASSERT_EQ(msgctl(qid_, IPC_STAT, &ds), 0);
	ds.msg_qbytes = 16384;
	ASSERT_EQ(msgctl(qid_, IPC_SET, &ds), 0);
	std::vector<uint8_t> text(IMG_QUEUE_TEXT, 0xab);
	for (int i = 0; i < 16; i++)
		ASSERT_EQ(img_queue_send(qid_, IMG_MSG_COMMAND, text.data(), text.size()), 0) << i;
	errno = 0;
	EXPECT_EQ(img_queue_send(qid_, IMG_MSG_COMMAND, text.data(), text.size()), -1);
	EXPECT_EQ(errno, EAGAIN);

	img_queue_drain(qid_);
	ASSERT_EQ(msgctl(qid_, IPC_STAT, &ds), 0);
	EXPECT_EQ(ds.msg_qnum, 0u);
}

TEST_F(ImgQueue, PrintAndRemove)
{
	const uint32_t w = 1;
	ASSERT_EQ(img_queue_send_reply(qid_, 0, &w, 1), 0);
	CaptureStdout();
	img_queue_print(qid_);
	std::string out = GetCapturedStdout();
	EXPECT_EQ(
	    out.rfind("current number of bytes on queue is 1016\nnumber of messages in queue is 1\n", 0), 0u)
	    << out;
	EXPECT_NE(out.find("pid of last msgsnd is " + std::to_string(getpid()) + "\n"), std::string::npos);
	EXPECT_NE(out.find("msg uid is "), std::string::npos);

	ASSERT_EQ(img_queue_remove(qid_), 0);
	CaptureStdout();
	img_queue_print(qid_);
	EXPECT_EQ(GetCapturedStdout(), "get msg info error\n");
	EXPECT_EQ(img_queue_remove(qid_), -1);
	qid_ = -1;
}

} // namespace
