/* A third-party Modbus server for bench/compare, and nothing else: libmodbus answering on a
 * serial device (RTU, 19200 baud 8E1, address 1) or on 127.0.0.1 (TCP, any unit id). It is a
 * test peer, compiled by the bench script into the build directory; the product never links
 * libmodbus.
 *
 *   libmodbus-peer rtu DEVICE     prints "rtu: DEVICE" once the device is open
 *   libmodbus-peer tcp PORT       prints "tcp: PORT" (the port bound, for PORT 0) once listening
 *
 * Holding register i (0 <= i < 2000) holds i. Serves until SIGTERM or SIGINT.
 */
#include <modbus.h>

#include <arpa/inet.h>
#include <errno.h>
#include <netinet/in.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <unistd.h>

enum { kRegisters = 2000 };

static modbus_mapping_t* registers(void)
{
    modbus_mapping_t* map = modbus_mapping_new(0, 0, kRegisters, 0);
    if (!map) {
        fprintf(stderr, "modbus_mapping_new: %s\n", modbus_strerror(errno));
        exit(1);
    }
    for (int i = 0; i < kRegisters; ++i)
        map->tab_registers[i] = (uint16_t)i;
    return map;
}

static int serve_rtu(const char* device)
{
    modbus_t* ctx = modbus_new_rtu(device, 19200, 'E', 8, 1);
    if (!ctx || modbus_set_slave(ctx, 1) != 0 || modbus_connect(ctx) != 0) {
        fprintf(stderr, "%s: %s\n", device, modbus_strerror(errno));
        return 1;
    }
    modbus_mapping_t* map = registers();
    printf("rtu: %s\n", device);
    fflush(stdout);
    uint8_t request[MODBUS_RTU_MAX_ADU_LENGTH];
    for (;;) {
        const int n = modbus_receive(ctx, request);
        if (n > 0)
            modbus_reply(ctx, request, n, map);
        /* n == 0: a request for another address; n < 0: a damaged frame. Either way, go on. */
    }
}

static int serve_tcp(int port)
{
    modbus_t* ctx = modbus_new_tcp("127.0.0.1", port);
    const int listener = ctx ? modbus_tcp_listen(ctx, 1) : -1;
    if (listener < 0) {
        fprintf(stderr, "listen: %s\n", modbus_strerror(errno));
        return 1;
    }
    struct sockaddr_in bound;
    socklen_t length = sizeof bound;
    getsockname(listener, (struct sockaddr*)&bound, &length);
    modbus_mapping_t* map = registers();
    printf("tcp: %d\n", ntohs(bound.sin_port));
    fflush(stdout);
    uint8_t request[MODBUS_TCP_MAX_ADU_LENGTH];
    int s = listener;
    for (;;) {
        /* One client at a time, as a poller connects: serve it until it hangs up. */
        if (modbus_tcp_accept(ctx, &s) < 0)
            continue;
        for (;;) {
            const int n = modbus_receive(ctx, request);
            if (n < 0)
                break;
            if (n > 0)
                modbus_reply(ctx, request, n, map);
        }
        close(modbus_get_socket(ctx));
        s = listener;
    }
}

int main(int argc, char** argv)
{
    if (argc == 3 && strcmp(argv[1], "rtu") == 0)
        return serve_rtu(argv[2]);
    if (argc == 3 && strcmp(argv[1], "tcp") == 0)
        return serve_tcp(atoi(argv[2]));
    fprintf(stderr, "usage: %s rtu DEVICE | tcp PORT\n", argv[0]);
    return 2;
}
