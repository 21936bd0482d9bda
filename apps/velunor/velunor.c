/* Velunor command-line host: loads the library through its C interface,
 * prints the version and the status of initialize and finalize. */
#include "velunor.h"

#include <stdio.h>

static void print_last_error(void) {
    char message[257];
    int code = 0;
    if (velunor_get_last_error(&code, message, (int)sizeof message) == 0) {
        fprintf(stderr, "velunor: error %d: %s\n", code, message);
    }
}

int main(void) {
    int major = 0;
    int minor = 0;
    int patch = 0;
    if (velunor_get_version(&major, &minor, &patch) != 0) {
        fprintf(stderr, "velunor: cannot read the library version\n");
        return 1;
    }
    printf("Velunor %d.%d.%d\n", major, minor, patch);

    int status = velunor_initialize();
    printf("initialize: %d\n", status);
    if (status != 0) {
        print_last_error();
        return 1;
    }
    status = velunor_finalize();
    printf("finalize: %d\n", status);
    if (status != 0) {
        print_last_error();
        return 1;
    }
    return 0;
}
