"""Reading recorded MP4 files back with Linux ffmpeg/ffprobe."""

import json
import subprocess
import threading

from . import env
from .image import CODE_BLOCK_H, read_code


def ffprobe_info(mp4_path, timeout=120):
    """The first video stream of the file: {'codec', 'width', 'height', 'pix_fmt', 'frames'
    (counted by decoding), 'frame_rate' (as a 'num/den' text), 'format'}."""
    out = env.run_checked(
        ["ffprobe", "-v", "error", "-count_frames", "-select_streams", "v:0",
         "-show_entries", "stream=codec_name,width,height,pix_fmt,nb_read_frames,r_frame_rate",
         "-show_entries", "format=format_name", "-of", "json", mp4_path], timeout=timeout)
    probe = json.loads(out.decode("utf-8"))
    if not probe.get("streams"):
        raise RuntimeError(f"{mp4_path} has no video stream")
    stream = probe["streams"][0]
    return {"codec": stream.get("codec_name"), "width": int(stream.get("width", 0)),
            "height": int(stream.get("height", 0)), "pix_fmt": stream.get("pix_fmt"),
            "frames": int(stream.get("nb_read_frames", 0)),
            "frame_rate": stream.get("r_frame_rate"), "format": probe["format"]["format_name"]}


def decode_frame_numbers(mp4_path, timeout=600):
    """The frame code of every frame of a 640x480 recording, in order. Only the code band is
    decoded, frame by frame, so that long takes need little memory."""
    band = CODE_BLOCK_H * 640
    args = ["ffmpeg", "-v", "error", "-nostdin", "-i", mp4_path, "-vf",
            f"crop=640:{CODE_BLOCK_H}:0:0", "-f", "rawvideo", "-pix_fmt", "gray", "-"]
    numbers = []
    with subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.PIPE) as proc:
        timer = threading.Timer(timeout, proc.kill)
        timer.start()
        try:
            while True:
                data = proc.stdout.read(band)
                if len(data) < band:
                    break
                numbers.append(read_code(lambda x, y, d=data: d[y * 640 + x]))
            errors = proc.stderr.read()
            proc.wait()
        finally:
            timer.cancel()
    if proc.returncode != 0 or len(data) not in (0, band):
        raise RuntimeError(f"ffmpeg could not decode {mp4_path} (status {proc.returncode}): "
                           f"{errors.decode(errors='replace').strip()}")
    return numbers


def top_level_boxes(mp4_path):
    """The types of an MP4 file's top-level boxes, in order ('ftyp', 'moov', 'mdat', ...)."""
    boxes = []
    with open(mp4_path, "rb") as mp4:
        size = mp4.seek(0, 2)
        offset = 0
        while offset + 8 <= size:
            mp4.seek(offset)
            header = mp4.read(16)
            length = int.from_bytes(header[:4], "big")
            if length == 1:
                length = int.from_bytes(header[8:16], "big")
            elif length == 0:
                length = size - offset
            boxes.append(header[4:8].decode("latin-1"))
            if length < 8:
                break
            offset += length
    return boxes
