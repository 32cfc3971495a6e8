#!/usr/bin/env python3
"""A TCP proxy on loopback standing in for the link to a distant patch
server (the kernel's traffic shaping is not available on these machines):
every byte is delayed by a fixed time in each direction and, with --rate-mbit,
each direction is a link of that bandwidth.

    latency_proxy.py LISTEN_PORT TARGET_PORT ONE_WAY_MS [SECONDS] [--rate-mbit R]

Prints "ready" once listening; stops by itself after SECONDS (default 600).
Bytes keep their order.

The rate is one link per direction, shared by every connection, as a slow
line would be: each piece read is put on the link after the pieces before it
(of any connection) and takes size / rate to pass, then ONE_WAY_MS to
arrive. A connection reads its next piece only once the link's queue is
down to BACKLOG bytes, so the proxy holds at most BACKLOG plus one piece
(64 KiB) per connection plus what is on the way (rate x delay), whatever the
sender's speed; the backlog keeps the link busy when this process is
scheduled late on a loaded machine.
Without --rate-mbit bandwidth is not limited.
"""
import argparse
import asyncio

PIECE = 65536
BACKLOG = 4 * PIECE


class Link:
    """One direction's bottleneck: a queue that drains at |rate| bytes/s."""

    def __init__(self, rate):
        self.rate = rate
        self.free_at = 0.0

    def passed(self, now, size):
        """When a piece of |size| bytes handed over at |now| has passed."""
        if not self.rate:
            return now
        self.free_at = max(now, self.free_at) + size / self.rate
        return self.free_at


async def pump(reader, writer, delay, link):
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
            data = await reader.read(PIECE)
            passed = link.passed(loop.time(), len(data))
            queue.put_nowait((passed + delay, data or None))
            if not data:
                break
            wait = passed - BACKLOG / link.rate - loop.time() if link.rate else 0
            if wait > 0:
                await asyncio.sleep(wait)
        await sender
    except (ConnectionError, OSError):
        sender.cancel()
    finally:
        writer.close()


async def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("listen_port", type=int)
    parser.add_argument("target_port", type=int)
    parser.add_argument("one_way_ms", type=int)
    parser.add_argument("seconds", type=float, nargs="?", default=600.0)
    parser.add_argument("--rate-mbit", type=float, default=0.0,
                        help="bandwidth of each direction in Mbit/s (0: unlimited)")
    args = parser.parse_args()
    delay = args.one_way_ms / 1000.0
    rate = args.rate_mbit * 1e6 / 8
    up, down = Link(rate), Link(rate)

    async def handle(client_reader, client_writer):
        try:
            server_reader, server_writer = await asyncio.open_connection("127.0.0.1", args.target_port)
        except OSError:
            client_writer.close()
            return
        await asyncio.gather(pump(client_reader, server_writer, delay, up),
                             pump(server_reader, client_writer, delay, down),
                             return_exceptions=True)

    server = await asyncio.start_server(handle, "127.0.0.1", args.listen_port)
    print("ready", flush=True)
    async with server:
        try:
            await asyncio.wait_for(server.serve_forever(), timeout=args.seconds)
        except asyncio.TimeoutError:
            pass


if __name__ == "__main__":
    asyncio.run(main())
