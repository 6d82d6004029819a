"""The workbench's measuring tools in one place: pictures (reading and
writing 8-bit grey files), metrics (PSNR, SSIM), bdrate (Bjøntegaard
averages between rate-distortion curves) and codecs (rival command-line
codecs driven to a target rate). Benches and sweeps import these rather
than computing any of it themselves."""
