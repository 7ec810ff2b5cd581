# Also run the window test on a real X server when xvfb-run is available.
velmora_add_xvfb_test(${name} 800x480)
