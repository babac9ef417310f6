"""Reads the BME280 sensor once a minute and stores the readings."""
import argparse
import sqlite3
import time

import bme280
import smbus2

PORT, ADDRESS = 1, 0x76


def main() -> None:
    parser = argparse.ArgumentParser(description="weather station logger")
    parser.add_argument("--db", default="readings.db")
    args = parser.parse_args()
    bus = smbus2.SMBus(PORT)
    calibration = bme280.load_calibration_params(bus, ADDRESS)
    db = sqlite3.connect(args.db)
    db.execute("create table if not exists readings(ts, temperature, humidity, pressure)")
    while True:
        sample = bme280.sample(bus, ADDRESS, calibration)
        db.execute("insert into readings values (?, ?, ?, ?)",
                   (time.time(), sample.temperature, sample.humidity, sample.pressure))
        db.commit()
        time.sleep(60)


if __name__ == "__main__":
    main()
