// measure PROGRAM [ARGUMENTS...]
//
// Runs one program in a session of its own (no controlling terminal, so no
// key wait can block), with standard input and output on /dev/null, and
// prints its wall time in seconds and its peak resident memory in KiB.
// Exits 1 when the program fails or is killed.
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        fprintf(stderr, "usage: measure PROGRAM [ARGUMENTS...]\n");
        return 2;
    }
    timespec start{}, stop{};
    clock_gettime(CLOCK_MONOTONIC, &start);
    pid_t child = fork();
    if (child < 0) {
        perror("fork");
        return 1;
    }
    if (child == 0) {
        setsid();
        int null_fd = open("/dev/null", O_RDWR);
        if (null_fd >= 0) {
            dup2(null_fd, 0);
            dup2(null_fd, 1);
        }
        execvp(argv[1], argv + 1);
        perror(argv[1]);
        _exit(127);
    }
    int status = 0;
    rusage usage{};
    if (wait4(child, &status, 0, &usage) != child) {
        perror("wait4");
        return 1;
    }
    clock_gettime(CLOCK_MONOTONIC, &stop);
    double seconds = static_cast<double>(stop.tv_sec - start.tv_sec) + static_cast<double>(stop.tv_nsec - start.tv_nsec) * 1e-9;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) {
        fprintf(stderr, "measure: %s failed (status %d)\n", argv[1], status);
        return 1;
    }
    printf("%.6f %ld\n", seconds, usage.ru_maxrss);
    return 0;
}
