# A Modbus server with the RTU framer on a TCP port (a transparent gateway and
# its unit in one), for the RTU-over-TCP test: holding registers 400..799 of
# unit 1. Prints "ready" once it listens.  rtu_tcp_server.py PORT
import asyncio
import sys

from pymodbus.datastore import ModbusSequentialDataBlock, ModbusServerContext, ModbusSlaveContext
from pymodbus.server import StartAsyncTcpServer
from pymodbus.transaction import ModbusRtuFramer


async def main(port):
    block = ModbusSequentialDataBlock(400, [0] * 400)
    store = ModbusSlaveContext(hr=block, zero_mode=True)
    context = ModbusServerContext(slaves={1: store}, single=False)
    asyncio.get_running_loop().call_later(0.5, lambda: print("ready", flush=True))
    await StartAsyncTcpServer(context=context, address=("127.0.0.1", port), framer=ModbusRtuFramer)


asyncio.run(main(int(sys.argv[1])))
