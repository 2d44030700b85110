/* A plug-in for qemu-user that counts the guest instructions a program executes, for
 * measuring what a piece of code costs on a box's processor without the box:
 *
 *   qemu-mipsel -plugin ./insn_count_plugin.so,out=COUNT_FILE PROGRAM ARGS...
 *
 * writes the count as one decimal number into COUNT_FILE at the program's exit
 * (without out=, to the emulator's log: stderr unless -D names a file). Every
 * instruction of a translated block is counted when the block starts, so an exception
 * inside a block would overcount it by the rest of the block; a user-mode program's
 * system calls end their blocks, so this does not happen in practice.
 *
 * The emulator carries no header for its plug-in interface, so the few declarations
 * used are written out below; they are the interface's first version, which emulators
 * from 4.2 on load. Built for the host: cc -shared -fPIC -O2 -o insn_count_plugin.so
 * insn_count_plugin.c */
#include <inttypes.h>
#include <stdbool.h>
#include <stddef.h>
#include <stdint.h>
#include <stdio.h>
#include <string.h>

typedef uint64_t qemu_plugin_id_t;

typedef struct {
    const char* target_name;
    struct {
        int min;
        int cur;
    } version;
    bool system_emulation;
} qemu_info_t;

struct qemu_plugin_tb;
enum qemu_plugin_op { QEMU_PLUGIN_INLINE_ADD_U64 };

typedef void (*qemu_plugin_tb_trans_cb_t)(qemu_plugin_id_t id, struct qemu_plugin_tb* tb);
typedef void (*qemu_plugin_udata_cb_t)(qemu_plugin_id_t id, void* userdata);

void qemu_plugin_register_vcpu_tb_trans_cb(qemu_plugin_id_t id, qemu_plugin_tb_trans_cb_t cb);
void qemu_plugin_register_vcpu_tb_exec_inline(struct qemu_plugin_tb* tb, enum qemu_plugin_op op,
                                              void* ptr, uint64_t imm);
size_t qemu_plugin_tb_n_insns(const struct qemu_plugin_tb* tb);
void qemu_plugin_register_atexit_cb(qemu_plugin_id_t id, qemu_plugin_udata_cb_t cb, void* userdata);
void qemu_plugin_outs(const char* string);

__attribute__((visibility("default"))) int qemu_plugin_version = 1;

/* One counter for all threads: the programs measured are single-threaded, and an
 * inline add keeps the count's cost out of the emulator's way. */
static uint64_t executed;
static char out_path[4096];

static void on_translate(qemu_plugin_id_t id, struct qemu_plugin_tb* tb) {
    (void)id;
    qemu_plugin_register_vcpu_tb_exec_inline(tb, QEMU_PLUGIN_INLINE_ADD_U64, &executed,
                                             qemu_plugin_tb_n_insns(tb));
}

static void on_exit(qemu_plugin_id_t id, void* userdata) {
    (void)id;
    (void)userdata;
    char line[64];
    snprintf(line, sizeof line, "%" PRIu64 "\n", executed);
    if (out_path[0] == '\0') {
        qemu_plugin_outs(line);
        return;
    }
    FILE* out = fopen(out_path, "w");
    if (out == NULL || fputs(line, out) == EOF || fclose(out) != 0) {
        qemu_plugin_outs("insn_count_plugin: cannot write the count to ");
        qemu_plugin_outs(out_path);
        qemu_plugin_outs("\n");
    }
}

__attribute__((visibility("default"))) int qemu_plugin_install(qemu_plugin_id_t id,
                                                               const qemu_info_t* info, int argc,
                                                               char** argv) {
    (void)info;
    for (int i = 0; i < argc; ++i) {
        if (strncmp(argv[i], "out=", 4) == 0 && strlen(argv[i] + 4) < sizeof out_path) {
            strcpy(out_path, argv[i] + 4);
        } else {
            fprintf(stderr, "insn_count_plugin: unknown argument '%s' (out=FILE)\n", argv[i]);
            return -1;
        }
    }
    qemu_plugin_register_vcpu_tb_trans_cb(id, on_translate);
    qemu_plugin_register_atexit_cb(id, on_exit, NULL);
    return 0;
}
