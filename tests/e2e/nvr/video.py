"""Reading recorded MP4 files back with Linux ffmpeg/ffprobe."""

import json
import subprocess

from . import env
from .image import read_code


def ffprobe_info(mp4_path, timeout=120):
    """The first video stream of the file: {'codec', 'width', 'height', 'pix_fmt', 'frames'
    (counted by decoding), 'frame_rate' (as a 'num/den' text), 'duration' (seconds, float or
    None), 'format'}."""
    out = env.run_checked(
        ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
         "-show_entries", "stream=codec_name,width,height,pix_fmt,nb_read_frames,r_frame_rate",
         "-show_entries", "format=duration,format_name", "-of", "json", mp4_path],
        timeout=timeout)
    probe = json.loads(out.decode("utf-8"))
    streams = probe.get("streams") or []
    if not streams:
        raise RuntimeError(f"{mp4_path} has no video stream")
    stream = streams[0]
    duration = probe.get("format", {}).get("duration")
    return {
        "codec": stream.get("codec_name"),
        "width": int(stream.get("width", 0)),
        "height": int(stream.get("height", 0)),
        "pix_fmt": stream.get("pix_fmt"),
        "frames": int(stream.get("nb_read_frames", 0)),
        "frame_rate": stream.get("r_frame_rate"),
        "duration": float(duration) if duration not in (None, "N/A") else None,
        "format": probe.get("format", {}).get("format_name"),
    }


def decode_frame_numbers(mp4_path, timeout=300):
    """The frame code of every frame of the file, in order, read from its gray decode (the
    block centres, threshold 128), scaled to the file's own picture size."""
    info = ffprobe_info(mp4_path, timeout=timeout)
    width, height = info["width"], info["height"]
    proc = subprocess.run(
        ["ffmpeg", "-v", "error", "-nostdin", "-i", mp4_path, "-f", "rawvideo", "-pix_fmt",
         "gray", "-"], stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=timeout,
        check=False)
    if proc.returncode != 0:
        raise RuntimeError(f"ffmpeg could not decode {mp4_path}: "
                           f"{proc.stderr.decode(errors='replace').strip()}")
    frame_size = width * height
    data = proc.stdout
    if frame_size == 0 or len(data) % frame_size != 0:
        raise RuntimeError(f"{len(data)} bytes are not whole {width}x{height} frames")
    numbers = []
    for start in range(0, len(data), frame_size):
        def gray_at(x, y, base=start):
            return data[base + y * width + x]
        numbers.append(read_code(gray_at, width / 640.0, height / 480.0))
    return numbers
