#!/usr/bin/env python3
"""The viewer of `ftjpeg rd --view` in a real browser (headless Chromium
driven by Selenium), opened from file://.

A small study (two crops of bundled photographs, a colour and a grey one;
jpeg, hybrid and a hybrid variant whose name holds ':', ',' and '=') is run
with --view. Then: the rate control picks, in every pane, the point this
test computes itself from points.csv (nearest on log bpp within the rates
all schemes share); screenshot pixels equal the decoded PNG's pixels at 1:1
and 4x on both sides of the two-up split and in every grid pane after a
drag (pan synchronisation); the split follows its handle; the difference x4
is min(255, 4 |pane - original|) per channel; a plot point of the report
opens its point; a missing PNG is named in its pane; and the output folder
still refuses a file no study wrote inside view/.

Exits 77 (skipped, with the reason) when no browser can be started.
"""

import csv
import io
import math
import os
import shutil
import subprocess
import sys
import tempfile
import time

SKIP = 77

try:
    import numpy as np
    from PIL import Image
    from selenium import webdriver
    from selenium.webdriver.chrome.options import Options
    from selenium.webdriver.chrome.service import Service
    from selenium.webdriver.common.action_chains import ActionChains
    from selenium.webdriver.common.by import By
    from selenium.webdriver.common.keys import Keys
except ImportError as error:
    print(f"SKIPPED: {error} (Debian: python3-selenium, python3-pil, python3-numpy)")
    sys.exit(SKIP)

BIN = os.environ.get("VELTRANO_BIN_DIR", "build/bin")
SOURCE = os.environ.get("VELTRANO_SOURCE_DIR", ".")
VARIANT = "hybrid:step=2,optimize"
SCHEMES = ["jpeg", "hybrid", VARIANT]


def start_browser():
    chromium = shutil.which("chromium") or shutil.which("chromium-browser")
    driver = shutil.which("chromedriver")
    if not chromium or not driver:
        print("SKIPPED: no chromium and chromedriver on the search path (Debian: chromium, chromium-driver)")
        sys.exit(SKIP)
    options = Options()
    options.binary_location = chromium
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--window-size=1200,800",
                     "--force-device-scale-factor=1", "--force-color-profile=srgb", "--hide-scrollbars"):
        options.add_argument(argument)
    try:
        return webdriver.Chrome(service=Service(driver), options=options)
    except Exception as error:  # the browser cannot run here
        print(f"SKIPPED: chromium could not be started: {str(error).splitlines()[0]}")
        sys.exit(SKIP)


def check(condition, message):
    if not condition:
        raise AssertionError(message)


def run_study(folder):
    photos = os.path.join(SOURCE, "data", "photos")
    crops = [("cat.png", "chelsea.png", (150, 40, 350, 190)), ("camera man.png", "camera.png", (180, 60, 340, 180))]
    for name, photo, box in crops:
        Image.open(os.path.join(photos, photo)).crop(box).save(os.path.join(folder, name))
    command = [os.path.join(BIN, "ftjpeg"), "rd", "cat.png", "camera man.png", "--schemes", "jpeg,hybrid",
               "--hybrid", "step=2,optimize", "--no-ablation", "--view", "--out", "rd", "--jobs", "2"]
    result = subprocess.run(command, cwd=folder, capture_output=True, text=True)
    check(result.returncode == 0, f"ftjpeg rd --view failed: {result.stderr}")


def read_points(folder):
    """Per image name, per scheme: (bpp, setting) of the points."""
    points = {}
    with open(os.path.join(folder, "rd", "points.csv"), newline="") as table:
        for row in csv.DictReader(table):
            points.setdefault(row["image"], {}).setdefault(row["scheme"], []).append(
                (float(row["bpp"]), int(row["quality"])))
    return points


def shared_range(schemes):
    low = max(min(bpp for bpp, _ in points) for points in schemes.values())
    high = min(max(bpp for bpp, _ in points) for points in schemes.values())
    return low, high


def nearest(points, rate):
    return min(points, key=lambda point: abs(math.log(point[0]) - math.log(rate)))


def file_name(scheme, setting):
    escaped = "".join(f"%{ord(c):02X}" if c in "%/\\" or ord(c) < 0x20 or ord(c) == 0x7F else c for c in scheme)
    return f"{escaped}_{setting}.png"


class Viewer:
    def __init__(self, driver, folder):
        self.driver = driver
        self.folder = folder

    def open(self, url):
        self.driver.get(url)
        self.wait()

    def wait(self):
        deadline = time.time() + 10
        time.sleep(0.05)
        while self.driver.execute_script("return document.body.dataset.ready") != "true":
            check(time.time() < deadline, "the viewer did not finish drawing")
            time.sleep(0.05)

    def keys(self, *keys):
        body = self.driver.find_element(By.TAG_NAME, "body")
        for key in keys:
            body.send_keys(key)
        self.wait()

    def views(self):
        return self.driver.execute_script(
            "return [...document.querySelectorAll('.view')].map(v => {"
            "  const r = v.getBoundingClientRect();"
            "  return Object.assign({left: r.left, top: r.top, width: v.clientWidth, height: v.clientHeight},"
            "                       v.dataset); })")

    def screenshot(self):
        return np.asarray(Image.open(io.BytesIO(self.driver.get_screenshot_as_png())).convert("RGB")).astype(int)

    def png(self, relative):
        return np.asarray(Image.open(os.path.join(self.folder, "rd", relative)).convert("RGB")).astype(int)

    def compare(self, shot, view, relative, x0, x1, transform=None):
        """Screen columns [x0, x1) of a view against the PNG it shows there."""
        picture = self.png(relative)
        if transform:
            picture = transform(picture)
        scale = float(view["scale"])
        ox, oy = int(view["offsetX"]), int(view["offsetY"])
        height, width = picture.shape[:2]
        xs = np.arange(max(x0, ox), min(x1, ox + int(width * scale)))
        ys = np.arange(max(0, oy), min(view["height"], oy + int(height * scale)))
        check(len(xs) > 8 and len(ys) > 8, f"too little of {relative} is visible to compare")
        expected = picture[np.floor((ys - oy) / scale).astype(int)][:, np.floor((xs - ox) / scale).astype(int)]
        left, top = int(round(view["left"])), int(round(view["top"]))
        actual = shot[top + ys][:, left + xs]
        wrong = np.argwhere(np.any(actual != expected, axis=2))
        check(len(wrong) == 0, f"{relative}: {len(wrong)} screen pixels differ from the PNG at scale {scale}, "
                               f"the first at {tuple(wrong[0]) if len(wrong) else None}")


def test_viewer(driver, folder):
    points = read_points(folder)
    viewer = Viewer(driver, folder)
    url = "file://" + os.path.join(folder, "rd", "viewer.html")
    viewer.open(url)

    # The rate control: at its ends and in between, each pane shows the point
    # of its scheme nearest to the rate; the variant's name is escaped in URLs.
    schemes = points["cat.png"]
    low, high = shared_range(schemes)
    slider = driver.find_element(By.ID, "rate")
    driver.execute_script("document.getElementById('left').value = arguments[0];"
                          "document.getElementById('left').dispatchEvent(new Event('change'));", VARIANT)
    for keys in ((Keys.HOME,), (Keys.END,), (Keys.HOME,) + (Keys.PAGE_UP,) * 3):
        slider.send_keys(*keys)
        viewer.wait()
        fraction = int(slider.get_attribute("value")) / 1000
        rate = math.exp(math.log(low) + fraction * (math.log(high) - math.log(low)))
        view = viewer.views()[0]
        for side, scheme in (("fileLeft", VARIANT), ("fileRight", "hybrid")):
            expected = "view/cat/" + file_name(scheme, nearest(schemes[scheme], rate)[1])
            check(view[side] == expected, f"at {rate:.4f} bpp the {side} is {view[side]}, not {expected}")
        viewer.keys("g")
        shown = [view["file"] for view in viewer.views()]
        wanted = ["view/cat/original.png"] + [
            "view/cat/" + file_name(scheme, nearest(schemes[scheme], rate)[1]) for scheme in SCHEMES]
        check(shown == wanted, f"the grid at {rate:.4f} bpp shows {shown}, not {wanted}")
        viewer.keys("t")

    # Pixels at 1:1 and at 4x, on both sides of the split.
    for key in ("1", "4"):
        viewer.keys(key)
        view = viewer.views()[0]
        check(float(view["scale"]) == float(key), f"key {key} gives scale {view['scale']}")
        split = int(view["split"])
        shot = viewer.screenshot()
        viewer.compare(shot, view, view["fileLeft"], 0, split - 2)
        viewer.compare(shot, view, view["fileRight"], split + 2, view["width"])

    # The split follows its handle.
    view = viewer.views()[0]
    handle = driver.find_element(By.CSS_SELECTOR, ".divider")
    target = int(view["width"] * 0.3)
    ActionChains(driver).drag_and_drop_by_offset(handle, target - int(view["split"]), 0).perform()
    viewer.wait()
    view = viewer.views()[0]
    check(abs(int(view["split"]) - target) <= 1, f"the split is at {view['split']} after a drag to {target}")
    shot = viewer.screenshot()
    viewer.compare(shot, view, view["fileLeft"], 0, int(view["split"]) - 2)
    viewer.compare(shot, view, view["fileRight"], int(view["split"]) + 2, view["width"])

    # Difference x4 against the original, computed here.
    viewer.keys("d")
    view = viewer.views()[0]
    original = viewer.png("view/cat/original.png")
    shot = viewer.screenshot()
    viewer.compare(shot, view, view["fileLeft"], 0, int(view["split"]) - 2,
                   lambda picture: np.minimum(255, 4 * np.abs(picture - original)))
    viewer.keys("d")

    # Pan synchronisation: a drag in one grid pane moves every pane alike.
    viewer.keys("g", "4")
    before = viewer.views()
    ActionChains(driver).move_to_element(driver.find_elements(By.CSS_SELECTOR, ".view")[2]) \
        .click_and_hold().move_by_offset(-37, -23).release().perform()
    viewer.wait()
    after = viewer.views()
    shot = viewer.screenshot()
    for old, new in zip(before, after):
        check((int(new["offsetX"]) - int(old["offsetX"]), int(new["offsetY"]) - int(old["offsetY"])) == (-37, -23),
              f"a pane moved from {old['offsetX']},{old['offsetY']} to {new['offsetX']},{new['offsetY']}")
        viewer.compare(shot, new, new["file"], 0, new["width"])

    # The original is one key away; the next image is another.
    viewer.keys("o")
    check(all(view["file"] == "view/cat/original.png" for view in viewer.views()), "o does not show the original")
    viewer.keys("o", "n")
    check(viewer.views()[1]["file"].startswith("view/camera man/"), "n does not open the next image")

    # A point of the report's plot opens that point.
    driver.get("file://" + os.path.join(folder, "rd", "report.html"))
    links = driver.find_elements(By.CSS_SELECTOR, "figure a[href^='viewer.html#image=1&']")
    link = next(a for a in links if "scheme=hybrid%3Astep%3D2%2Coptimize&" in a.get_attribute("href")
                and "setting=40" in a.get_attribute("href"))
    driver.execute_script("arguments[0].click()", link)
    viewer.wait()
    view = viewer.views()[0]
    check(view["fileLeft"] == "view/camera man/" + file_name(VARIANT, 40),
          f"the plot's link opens {view['fileLeft']}")

    # A missing image is named in its pane.
    missing = view["fileRight"]
    os.remove(os.path.join(folder, "rd", missing))
    driver.refresh()
    viewer.wait()
    message = driver.find_element(By.CSS_SELECTOR, ".message.right").text
    check(missing in message and "missing" in message, f"the pane of a missing file says: {message!r}")


def test_shared_files(folder):
    """Decoded images with the same pixels are one file under two names."""
    view = os.path.join(folder, "rd", "view", "cat")
    pairs = [(os.path.join(view, file_name("hybrid", q)), os.path.join(view, file_name(VARIANT, q)))
             for q in range(0, 101, 5)]
    same = [pair for pair in pairs if open(pair[0], "rb").read() == open(pair[1], "rb").read()]
    check(len(same) > 0, "the variant, which only optimises the Huffman tables, decodes to other pixels")
    check(all(os.path.samefile(*pair) for pair in same), "equal decoded images are stored twice")


def test_output_folder(folder):
    stray = os.path.join(folder, "rd", "view", "cat", "notes.txt")
    with open(stray, "w") as file:
        file.write("mine\n")
    result = subprocess.run([os.path.join(BIN, "ftjpeg"), "rd", "cat.png", "--schemes", "jpeg", "--view",
                             "--out", "rd"], cwd=folder, capture_output=True, text=True)
    check(result.returncode == 1 and "which no study wrote" in result.stderr and os.path.exists(stray),
          f"a study replaced a folder with a stray file in view/: {result.returncode} {result.stderr}")


def main():
    driver = start_browser()
    try:
        with tempfile.TemporaryDirectory(prefix="viewer-") as folder:
            run_study(folder)
            test_shared_files(folder)
            test_viewer(driver, folder)
            test_output_folder(folder)
    finally:
        driver.quit()
    print("viewer: all checks passed")


if __name__ == "__main__":
    main()
