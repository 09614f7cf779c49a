// without_ia32 COMMAND [ARGUMENTS...]: runs COMMAND as on a kernel without IA-32 emulation. A seccomp
// filter, inherited by every descendant, kills any process at its first 32-bit system call, so no
// i386 program (Wine's 32-bit loader among them) gets anywhere, while 64-bit programs run as usual.

#include <cerrno>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include <linux/audit.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <unistd.h>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: without_ia32 COMMAND [ARGUMENTS...]\n");
        return 2;
    }
    sock_filter rules[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, arch)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AUDIT_ARCH_I386, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_KILL_PROCESS),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(sizeof rules / sizeof rules[0]), rules};
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0 || prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program) != 0) {
        std::fprintf(stderr, "without_ia32: no seccomp filter: %s\n", std::strerror(errno));
        return 125;
    }
    execvp(argv[1], argv + 1);
    std::fprintf(stderr, "without_ia32: cannot run %s: %s\n", argv[1], std::strerror(errno));
    return 127;
}
