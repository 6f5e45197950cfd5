/*
 * kalun-run-model: loads a TensorFlow Lite model file into the inference
 * service, runs it once on an input file and prints what the model
 * produced, the way an application on the camera uses libkalun.
 *
 *   kalun-run-model MODEL.tflite INPUT [OUTPUT]
 *
 * INPUT holds the bytes of every model input, one after the other, in the
 * model's order. Float outputs are printed as numbers; with OUTPUT given
 * the raw output bytes are written there as well.
 */
#include <libkalun.h>

#include <errno.h>
#include <fcntl.h>
#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <unistd.h>

#define PRINT_MAX 64

static int fail(const char *what, kalunError **error)
{
	fprintf(stderr, "kalun-run-model: %s: %s (%d)\n", what,
	        *error && (*error)->msg ? (*error)->msg : "unknown error", *error ? (*error)->code : 0);
	kalunClearError(error);
	return 1;
}

static int fail_errno(const char *what, const char *path)
{
	fprintf(stderr, "kalun-run-model: %s %s: %s\n", what, path, strerror(errno));
	return 1;
}

/* Copies size bytes from in (at its current offset) into the tensor's
 * buffer at the tensor's offset. */
static int fill_tensor(int in, const kalunTensor *tensor, size_t size)
{
	int fd = kalunGetTensorFd(tensor, NULL);
	int64_t offset = kalunGetTensorFdOffset(tensor, NULL);
	char buf[4096];
	while (size) {
		size_t chunk = size < sizeof(buf) ? size : sizeof(buf);
		ssize_t n = read(in, buf, chunk);
		if (n <= 0)
			return -1;
		if (pwrite(fd, buf, (size_t)n, offset) != n)
			return -1;
		offset += n;
		size -= (size_t)n;
	}
	return 0;
}

static void print_tensor(size_t index, const kalunTensor *tensor, const uint8_t *data, size_t size)
{
	const kalunTensorDims *dims = kalunGetTensorDims(tensor, NULL);
	const char *name = kalunGetTensorName(tensor, NULL);
	printf("output %zu \"%s\" [", index, name ? name : "");
	for (size_t i = 0; dims && i < dims->len; i++)
		printf("%s%" PRIu64, i ? ", " : "", dims->dims[i]);
	printf("], %zu bytes:\n ", size);
	if (kalunGetTensorDataType(tensor, NULL) == KALUN_TENSOR_DATA_TYPE_FLOAT32) {
		size_t count = size / sizeof(float);
		for (size_t i = 0; i < count && i < PRINT_MAX; i++) {
			float v;
			memcpy(&v, data + i * sizeof(float), sizeof(v));
			printf(" %g", v);
		}
		printf("%s\n", count > PRINT_MAX ? " ..." : "");
	} else {
		for (size_t i = 0; i < size && i < PRINT_MAX; i++)
			printf(" %u", data[i]);
		printf("%s\n", size > PRINT_MAX ? " ..." : "");
	}
}

static int show_outputs(kalunTensor **outputs, size_t count, const char *out_path)
{
	int out = -1;
	if (out_path) {
		out = open(out_path, O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
		if (out < 0)
			return fail_errno("Could not create", out_path);
	}
	int status = 0;
	for (size_t i = 0; i < count && status == 0; i++) {
		size_t size = 0;
		kalunGetTensorByteSize(outputs[i], &size, NULL);
		uint8_t *data = malloc(size ? size : 1);
		if (!data || pread(kalunGetTensorFd(outputs[i], NULL), data, size,
		                   kalunGetTensorFdOffset(outputs[i], NULL)) != (ssize_t)size) {
			status = fail_errno("Could not read output of", "the model");
		} else {
			print_tensor(i, outputs[i], data, size);
			if (out >= 0 && write(out, data, size) != (ssize_t)size)
				status = fail_errno("Could not write", out_path);
		}
		free(data);
	}
	if (out >= 0)
		close(out);
	return status;
}

/* Reads the input file into the model's inputs, runs the job and shows the
 * outputs. */
static int run(kalunConnection *conn, const kalunModel *model, int in, const char *in_path,
               const char *out_path)
{
	kalunError *error = NULL;
	size_t num_in = 0, num_out = 0;
	int status = 1;
	kalunJobRequest *req = NULL;
	kalunTensor **inputs =
	    kalunAllocModelInputs(conn, model, KALUN_FD_PROP_READWRITE, &num_in, NULL, &error);
	kalunTensor **outputs =
	    inputs ? kalunAllocModelOutputs(conn, model, KALUN_FD_PROP_READWRITE, &num_out, NULL, &error)
	           : NULL;
	if (!outputs) {
		fail("Could not allocate tensors", &error);
		goto out;
	}

	size_t wanted = 0;
	for (size_t i = 0; i < num_in; i++) {
		size_t size = 0;
		kalunGetTensorByteSize(inputs[i], &size, NULL);
		wanted += size;
	}
	off_t have = lseek(in, 0, SEEK_END);
	if (have < 0 || lseek(in, 0, SEEK_SET) < 0) {
		fail_errno("Could not measure", in_path);
		goto out;
	}
	if ((size_t)have != wanted) {
		fprintf(stderr, "kalun-run-model: %s holds %jd bytes; the model's inputs take %zu\n", in_path,
		        (intmax_t)have, wanted);
		goto out;
	}
	for (size_t i = 0; i < num_in; i++) {
		size_t size = 0;
		kalunGetTensorByteSize(inputs[i], &size, NULL);
		if (fill_tensor(in, inputs[i], size) < 0) {
			fail_errno("Could not read", in_path);
			goto out;
		}
	}

	req = kalunCreateJobRequest(model, inputs, num_in, outputs, num_out, NULL, &error);
	if (!req) {
		fail("Could not create the job request", &error);
		goto out;
	}
	if (!kalunRunJob(conn, req, &error)) {
		fail("Could not run the job", &error);
		goto out;
	}
	status = show_outputs(outputs, num_out, out_path);
out:
	kalunDestroyJobRequest(&req);
	if (!kalunDestroyTensors(conn, &inputs, num_in, &error))
		fail("Could not release the input buffers", &error);
	if (!kalunDestroyTensors(conn, &outputs, num_out, &error))
		fail("Could not release the output buffers", &error);
	return status;
}

int main(int argc, char **argv)
{
	if (argc < 3 || argc > 4) {
		fprintf(stderr, "usage: %s MODEL.tflite INPUT [OUTPUT]\n", argv[0]);
		return 2;
	}
	const char *model_path = argv[1], *in_path = argv[2];
	const char *out_path = argc > 3 ? argv[3] : NULL;

	int model_fd = open(model_path, O_RDONLY | O_CLOEXEC);
	if (model_fd < 0)
		return fail_errno("Could not open", model_path);
	int in = open(in_path, O_RDONLY | O_CLOEXEC);
	if (in < 0) {
		close(model_fd);
		return fail_errno("Could not open", in_path);
	}

	kalunError *error = NULL;
	kalunConnection *conn = NULL;
	kalunModel *model = NULL;
	int status = 1;
	if (!kalunConnect(&conn, &error)) {
		fail("Could not connect to the inference service", &error);
		goto out;
	}
	const kalunDevice *dev = kalunGetDevice(conn, "cpu-tflite", 0, &error);
	if (!dev) {
		fail("No TensorFlow Lite device", &error);
		goto out;
	}
	const char *name = strrchr(model_path, '/') ? strrchr(model_path, '/') + 1 : model_path;
	model = kalunLoadModel(conn, model_fd, dev, KALUN_MODEL_ACCESS_PRIVATE, name, NULL, &error);
	if (!model) {
		fail("Could not load the model", &error);
		goto out;
	}
	printf("model %" PRIu64 " \"%s\" on %s: %" PRIu64 " bytes, %zu input(s), %zu output(s)\n",
	       kalunGetModelId(model, NULL), kalunGetModelName(model, NULL), kalunGetDeviceName(dev, NULL),
	       kalunGetModelSize(model, NULL), kalunGetModelNumInputs(model, NULL),
	       kalunGetModelNumOutputs(model, NULL));
	status = run(conn, model, in, in_path, out_path);
	if (!kalunDeleteModel(conn, model, &error)) {
		fail("Could not delete the model", &error);
		status = 1;
	}
out:
	kalunDestroyModel(&model);
	kalunDisconnect(&conn, NULL);
	close(in);
	close(model_fd);
	return status;
}
