// A C# host: creates arrays, runs operations on them and prints the results.
using System;
using System.Globalization;
using System.Linq;
using Qor;

static class Program
{
    static string Show(float[] v) =>
        string.Join(" ", v.Select(x => x.ToString("0.####", CultureInfo.InvariantCulture)));

    static int Main()
    {
        QorInfo info;
        using (var a = new QorArray(5, DataFormat.F32))
        using (var b = new QorArray(5, DataFormat.F32))
        using (var q = new QorArray(5, DataFormat.F32))
        {
            Native.Check("qor_get_info", Native.qor_get_info(a.Handle, out info));
            Console.WriteLine($"array: {info.Size} x {info.DataType}, {info.ValidBits} valid bits, aligned {(info.FrameBuf.ToInt64() % 64 == 0)}");

            a.Set(new float[] { 1, 2, 4, 8, -16 });
            b.Set(new float[] { 3, 3, 3, 3, 3 });
            Native.Check("qor_div", Native.qor_div(a.Handle, b.Handle, q.Handle));
            Console.WriteLine("3 / a: " + Show(q.ToFloats()));
            Native.Check("qor_square", Native.qor_square(a.Handle, q.Handle));
            Console.WriteLine("a^2: " + Show(q.ToFloats()));
            float lo = float.PositiveInfinity, hi = float.NegativeInfinity;
            Native.Check("qor_min_max", Native.qor_min_max(a.Handle, ref lo, ref hi));
            Console.WriteLine($"min {lo}, max {hi}");
        }

        // Two tones and their amplitude spectrum: peaks of 1 and 0.5 at bins 2 and 4 of 16.
        using (var t1 = new QorArray(16, DataFormat.F32))
        using (var t2 = new QorArray(16, DataFormat.F32))
        using (var spectrum = new QorArray(16, DataFormat.F32))
        {
            Native.Check("qor_vector_tone", Native.qor_vector_tone(t1.Handle, 1.0f, 0.125f, 0.0f));
            Native.Check("qor_vector_tone", Native.qor_vector_tone(t2.Handle, 0.5f, 0.25f, 0.0f));
            float[] a = t1.ToFloats(), b = t2.ToFloats();
            t1.Set(a.Zip(b, (x, y) => x + y).ToArray());
            Native.Check("qor_dft_fwd", Native.qor_dft_fwd(t1.Handle, spectrum.Handle));
            Console.WriteLine("spectrum: " + string.Join(" ",
                spectrum.ToFloats().Take(8).Select(x => x.ToString("0.000", CultureInfo.InvariantCulture))));
        }

        // A quadratic fit of the noisy test signal 0.01 x^2 - 2 x + 30 (noise within +-5).
        using (var signal = new QorArray(3000, DataFormat.F32))
        using (var coef = new QorArray(4, DataFormat.F32))
        {
            Native.Check("qor_test_rand", Native.qor_test_rand(signal.Handle, 0.01f, -2.0f, 30.0f));
            Native.Check("qor_quadratic_fit", Native.qor_quadratic_fit(signal.Handle, coef.Handle));
            float[] c = coef.ToFloats();
            Console.WriteLine(string.Format(CultureInfo.InvariantCulture, "quadratic fit: a {0:0.0000} b {1:0.00} c {2:0.0}",
                c[0], c[1], c[2]));
        }

        // A Gaussian fit: 1 + y sampled from 3 exp(-(x - 1.5)^2 / (2 * 0.8^2)) on x = -2, -1.9, ...
        using (var bell = new QorArray(60, DataFormat.F32))
        {
            Native.Check("qor_gaussian_plot", Native.qor_gaussian_plot(bell.Handle, 1.5f, 0.8f, 3.0f, -2.0f, 0.1f));
            bell.Set(bell.ToFloats().Select(v => v - 1.0f).ToArray());
            float centre, sigma, amplitude;
            Native.Check("qor_gaussian_fit", Native.qor_gaussian_fit(bell.Handle, -2.0f, 0.1f, out centre, out sigma, out amplitude));
            Console.WriteLine(string.Format(CultureInfo.InvariantCulture, "gaussian fit: centre {0:0.000} sigma {1:0.000} amplitude {2:0.000}",
                centre, sigma, amplitude));
        }

        // A histogram of the ramp 0, 1, ..., 99 in four bins over [0, 100).
        using (var ramp = new QorArray(100, DataFormat.F32))
        {
            var counts = new uint[4];
            Native.Check("qor_vector_slope", Native.qor_vector_slope(ramp.Handle, 0.0f, 1.0f));
            Native.Check("qor_histogram", Native.qor_histogram(ramp.Handle, counts, 4, 0.0f, 100.0f));
            Console.WriteLine("histogram: " + string.Join(" ", counts));
        }

        // Errors come back as statuses: -4 for arrays of different formats, -6 for a bad handle.
        using (var f = new QorArray(3, DataFormat.F32))
        using (var d = new QorArray(3, DataFormat.F64))
        {
            Console.WriteLine($"mixed formats: {Native.qor_square(f.Handle, d.Handle)}");
        }
        Console.WriteLine($"bad handle: {Native.qor_destroy_array(12345)}");
        return 0;
    }
}
