#!/usr/bin/python3
"""A Modbus TCP server built on pymodbus, the peer of the client's interop tests.

Listens on 127.0.0.1 on an ephemeral port and prints "PORT <n>" once it accepts connections,
or "SKIP <reason>" when pymodbus cannot be imported. Holding register i (0 <= i < 1000,
addressed from 0 on the wire) holds 0x1000 + i; every other address answers with exception 2.
Report Server ID answers "TARNWICK-INTEROP" followed by the run status 0xFF.
Written against pymodbus 3.0 (Debian 12's python3-pymodbus); stopped by SIGTERM.
"""

import asyncio
import logging
import sys
import types

try:
    import serial_asyncio  # noqa: F401  pylint: disable=unused-import
except ImportError:
    # Debian 12's python3-pymodbus imports serial_asyncio at the top of its server module but
    # does not depend on python3-serial-asyncio. Only the serial server uses it; this TCP
    # server never does, so a stand-in lets the module load.
    def _no_serial(*_args, **_kwargs):
        raise RuntimeError("serial_asyncio is not installed")

    sys.modules["serial_asyncio"] = types.SimpleNamespace(create_serial_connection=_no_serial)

try:
    from pymodbus.datastore import (
        ModbusSequentialDataBlock,
        ModbusServerContext,
        ModbusSlaveContext,
    )
    from pymodbus.server.async_io import ModbusTcpServer
except ImportError as exc:
    print(f"SKIP pymodbus is not importable by {sys.executable}: {exc}", flush=True)
    sys.exit(0)

REGISTER_COUNT = 1000
FIRST_VALUE = 0x1000
SERVER_ID = b"TARNWICK-INTEROP"


async def serve():
    # Exception replies are part of the tests; pymodbus would log each one as an error.
    logging.getLogger("pymodbus").setLevel(logging.CRITICAL)
    registers = ModbusSequentialDataBlock(0, [FIRST_VALUE + i for i in range(REGISTER_COUNT)])
    # zero_mode: wire address i is block index i (pymodbus otherwise adds 1).
    unit = ModbusSlaveContext(hr=registers, zero_mode=True)
    unit.reportSlaveIdData = SERVER_ID
    context = ModbusServerContext(slaves=unit, single=True)
    server = ModbusTcpServer(context, address=("127.0.0.1", 0))
    task = asyncio.create_task(server.serve_forever())
    await server.serving
    port = server.server.sockets[0].getsockname()[1]
    print(f"PORT {port}", flush=True)
    await task


if __name__ == "__main__":
    asyncio.run(serve())
