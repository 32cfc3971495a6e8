#!/usr/bin/env python3
"""A TCP proxy on loopback that delays every byte by a fixed time in each
direction, standing in for the round trip to a distant patch server (the
kernel's traffic shaping is not available on these machines).

    latency_proxy.py LISTEN_PORT TARGET_PORT ONE_WAY_MS [SECONDS]

Prints "ready" once listening; stops by itself after SECONDS (default 600).
Bytes keep their order; bandwidth is not limited.
"""
import asyncio
import sys


async def pump(reader, writer, delay):
    loop = asyncio.get_running_loop()
    queue = asyncio.Queue()

    async def deliver():
        while True:
            due, data = await queue.get()
            wait = due - loop.time()
            if wait > 0:
                await asyncio.sleep(wait)
            if data is None:
                break
            writer.write(data)
            await writer.drain()
        try:
            writer.write_eof()
        except (OSError, RuntimeError):
            pass

    sender = asyncio.create_task(deliver())
    try:
        while True:
            data = await reader.read(65536)
            queue.put_nowait((loop.time() + delay, data or None))
            if not data:
                break
        await sender
    except (ConnectionError, OSError):
        sender.cancel()
    finally:
        writer.close()


async def main():
    listen_port, target_port, one_way_ms = (int(a) for a in sys.argv[1:4])
    lifetime = float(sys.argv[4]) if len(sys.argv) > 4 else 600.0
    delay = one_way_ms / 1000.0

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay),
                             pump(server_reader, client_writer, delay),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", listen_port)
    print("ready", flush=True)
    async with server:
        try:
            await asyncio.wait_for(server.serve_forever(), timeout=lifetime)
        except asyncio.TimeoutError:
            pass


if __name__ == "__main__":
    asyncio.run(main())
