/*
 * kalun-halve-image: halves a 4x4 RGB image with the inference service's
 * image pre-processing device, the way an application on the camera uses
 * libkalun for a model that takes its whole description from parameters.
 *
 *   kalun-halve-image
 *
 * Prints the devices, the model the service made, and the image before and
 * after.
 */
#define _GNU_SOURCE
#include <libkalun.h>

#include <inttypes.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/mman.h>
#include <unistd.h>

#define WIDTH 4
#define HEIGHT 4

static int fail(const char *what, kalunError **error)
{
	fprintf(stderr, "kalun-halve-image: %s: %s (%d)\n", what,
	        *error && (*error)->msg ? (*error)->msg : "unknown error", *error ? (*error)->code : 0);
	kalunClearError(error);
	return 1;
}

static void print_image(const char *title, const uint8_t *bytes, int width, int height)
{
	printf("%s\n", title);
	for (int y = 0; y < height; y++) {
		printf(" ");
		for (int x = 0; x < width * 3; x++)
			printf(" %3u", bytes[y * width * 3 + x]);
		printf("\n");
	}
}

/* A memfd of size bytes holding data (zeros when data is NULL). */
static int memfd_of(const uint8_t *data, size_t size)
{
	int fd = memfd_create("kalun-halve-image", MFD_CLOEXEC);
	if (fd < 0 || ftruncate(fd, (off_t)size) != 0 ||
	    (data && pwrite(fd, data, size, 0) != (ssize_t)size)) {
		perror("kalun-halve-image: memfd");
		exit(1);
	}
	return fd;
}

static int halve(kalunConnection *conn, const kalunModel *model)
{
	uint8_t image[WIDTH * HEIGHT * 3], half[WIDTH / 2 * HEIGHT / 2 * 3];
	for (size_t i = 0; i < sizeof(image); i++)
		image[i] = (uint8_t)(i * 5);
	int in_fd = memfd_of(image, sizeof(image)), out_fd = memfd_of(NULL, sizeof(half));

	kalunError *error = NULL;
	size_t num_in = 0, num_out = 0;
	int status = 1;
	kalunJobRequest *req = NULL;
	kalunTensor **inputs = kalunCreateModelInputs(model, &num_in, &error);
	kalunTensor **outputs = inputs ? kalunCreateModelOutputs(model, &num_out, &error) : NULL;
	if (!outputs || !kalunSetTensorFd(inputs[0], in_fd, &error) ||
	    !kalunSetTensorFd(outputs[0], out_fd, &error)) {
		fail("Could not describe the tensors", &error);
		goto out;
	}
	req = kalunCreateJobRequest(model, inputs, num_in, outputs, num_out, NULL, &error);
	if (!req || !kalunRunJob(conn, req, &error)) {
		fail("Could not run the job", &error);
		goto out;
	}
	if (pread(out_fd, half, sizeof(half), 0) != (ssize_t)sizeof(half)) {
		perror("kalun-halve-image: output");
		goto out;
	}
	print_image("input 4x4 RGB:", image, WIDTH, HEIGHT);
	print_image("output 2x2 RGB:", half, WIDTH / 2, HEIGHT / 2);
	status = 0;
out:
	kalunDestroyJobRequest(&req);
	kalunDestroyTensors_API_VERSION_1(&inputs, num_in);
	kalunDestroyTensors_API_VERSION_1(&outputs, num_out);
	close(in_fd);
	close(out_fd);
	return status;
}

int main(void)
{
	kalunError *error = NULL;
	kalunConnection *conn = NULL;
	kalunModel *model = NULL;
	kalunMap *params = NULL;
	int status = 1;
	if (!kalunConnect(&conn, &error))
		return fail("Could not connect to the inference service", &error);
	size_t count = 0;
	const kalunDevice *const *devices = kalunListDevices(conn, &count, &error);
	for (size_t i = 0; devices && i < count; i++) {
		uint32_t instance = 0;
		kalunGetDeviceInstance(devices[i], &instance, NULL);
		printf("device %zu: %s, instance %" PRIu32 "\n", i, kalunGetDeviceName(devices[i], NULL),
		       instance);
	}
	const kalunDevice *dev = kalunGetDevice(conn, "cpu-proc", 0, &error);
	params = kalunCreateMap(&error);
	if (!dev || !params || !kalunMapSetIntArr2(params, "image.input.size", WIDTH, HEIGHT, &error) ||
	    !kalunMapSetStr(params, "image.input.format", "rgb-interleaved", &error) ||
	    !kalunMapSetIntArr2(params, "image.output.size", WIDTH / 2, HEIGHT / 2, &error) ||
	    !kalunMapSetStr(params, "image.output.format", "rgb-interleaved", &error)) {
		fail("Could not describe the model", &error);
		goto out;
	}
	/* The model is its parameters alone: no file. */
	model = kalunLoadModel(conn, -1, dev, KALUN_MODEL_ACCESS_PRIVATE, "halve", params, &error);
	if (!model) {
		fail("Could not load the model", &error);
		goto out;
	}
	printf("model %" PRIu64 " \"%s\" on %s: %zu input(s), %zu output(s)\n", kalunGetModelId(model, NULL),
	       kalunGetModelName(model, NULL), kalunGetDeviceName(dev, NULL),
	       kalunGetModelNumInputs(model, NULL), kalunGetModelNumOutputs(model, NULL));
	status = halve(conn, model);
	if (!kalunDeleteModel(conn, model, &error)) {
		fail("Could not delete the model", &error);
		status = 1;
	}
out:
	kalunDestroyMap(&params);
	kalunDestroyModel(&model);
	kalunDisconnect(&conn, NULL);
	return status;
}
