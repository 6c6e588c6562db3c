// Stands in for the processes that read the tool's request segments: attaches
// a segment by key, without creating it, and prints the record word by word.
//
//   tool_shm peripheral KEY     valid=.. status=.. cmd=.. param1..5 reserved=5 words
//   tool_shm adc KEY            valid=.. cmd=.. param1=.. param2=.. reserved=8 words
//   tool_shm stat KEY           size=.. mode=...
//   tool_shm create KEY SIZE BYTE
//                               a new segment, every byte set to BYTE
//
// A missing segment prints "no segment KEY" and ends with status 1. The words
// are decoded from their offsets, not through the tool's own structures.
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ipc.h>
#include <sys/shm.h>

namespace {

struct field {
    const char *name;
    int words;
};

const field peripheral_fields[] = {{"valid", 1},  {"status", 1}, {"cmd", 1},
                                   {"param1", 1}, {"param2", 1}, {"param3", 1},
                                   {"param4", 1}, {"param5", 1}, {"reserved", 5}};
const field adc_fields[] = {{"valid", 1}, {"cmd", 1}, {"param1", 1}, {"param2", 1}, {"reserved", 8}};

int find(key_t key, struct shmid_ds *info)
{
    int id = shmget(key, 0, 0);
    if (id < 0 || shmctl(id, IPC_STAT, info) != 0) {
        printf("no segment %ld\n", (long)key);
        return -1;
    }
    return id;
}

int decode(key_t key, const field *fields, size_t count)
{
    struct shmid_ds info;
    int id = find(key, &info);
    if (id < 0)
        return 1;
    size_t words = 0;
    for (size_t i = 0; i < count; i++)
        words += (size_t)fields[i].words;
    if (info.shm_segsz < words * 4) {
        printf("segment %ld has %zu bytes\n", (long)key, (size_t)info.shm_segsz);
        return 1;
    }
    const unsigned char *base = (const unsigned char *)shmat(id, NULL, SHM_RDONLY);
    if (base == (const void *)-1) {
        perror("shmat");
        return 1;
    }
    size_t offset = 0;
    for (size_t i = 0; i < count; i++) {
        printf("%s%s=", i ? " " : "", fields[i].name);
        for (int w = 0; w < fields[i].words; w++, offset += 4) {
            int32_t value;
            memcpy(&value, base + offset, sizeof value);
            printf("%s%d", w ? "," : "", value);
        }
    }
    printf("\n");
    shmdt(base);
    return 0;
}

int stat_segment(key_t key)
{
    struct shmid_ds info;
    if (find(key, &info) < 0)
        return 1;
    printf("size=%zu mode=%o\n", (size_t)info.shm_segsz, info.shm_perm.mode & 0777u);
    return 0;
}

int create(key_t key, size_t size, int byte)
{
    int id = shmget(key, size, IPC_CREAT | IPC_EXCL | 0666);
    if (id < 0) {
        perror("shmget");
        return 1;
    }
    void *base = shmat(id, NULL, 0);
    if (base == (void *)-1) {
        perror("shmat");
        return 1;
    }
    memset(base, byte, size);
    shmdt(base);
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    if (argc < 3) {
        fprintf(stderr, "usage: tool_shm peripheral|adc|stat KEY | create KEY SIZE BYTE\n");
        return 2;
    }
    const char *verb = argv[1];
    key_t key = (key_t)strtol(argv[2], NULL, 0);
    if (strcmp(verb, "peripheral") == 0)
        return decode(key, peripheral_fields, sizeof peripheral_fields / sizeof peripheral_fields[0]);
    if (strcmp(verb, "adc") == 0)
        return decode(key, adc_fields, sizeof adc_fields / sizeof adc_fields[0]);
    if (strcmp(verb, "stat") == 0)
        return stat_segment(key);
    if (strcmp(verb, "create") == 0 && argc == 5)
        return create(key, strtoul(argv[3], NULL, 0), (int)strtol(argv[4], NULL, 0));
    fprintf(stderr, "tool_shm: bad command\n");
    return 2;
}
