#!/usr/bin/env bash
# End-to-end benchmarks: times the fast program against the reference build
# on Fashion-MNIST and on the shipped data, checks that their standard output
# is byte-identical, and prints Markdown tables. Also measures how a gaussian
# run grows with the training-set size and draws bench/growth.png.
#
# Usage: bench/bench_e2e.sh [options]
#   --reference-limit S  stop each reference run after S seconds (its time is
#                        then shown as "> S s" and its output is not compared)
#   --skip-reference     run only the fast program
#   --only NAME          run one workload: gauss60k, gauss5k, voted, pol, load,
#                        or classify (the ten-class table alone)
#   --no-classify        skip the ten-class table (digit-tools classify beside
#                        LIBSVM's svm-train and svm-predict)
#   --classify-sets LIST sets of the ten-class table, from shipped 5000 60000
#                        (the default: all of them)
#   --no-growth          skip the growth table and plot
#   --growth-only        only the growth table and plot
#   --growth-reference   also time the reference in the growth table
#   --growth-sizes LIST  training-set sizes of the growth table, from 1000 2000
#                        5000 10000 20000 60000 (the default: all of them)
#
# Installs what it needs with scripts/install_deps.sh bench. Builds build/release
# and the data in bench/data/ when they are missing. Uses every hardware
# thread unless PROGRAMMA_THREADS says otherwise.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

reference_limit=0
skip_reference=0
only=""
growth=1
workloads=1
classify=1
classify_sets="shipped 5000 60000"
growth_reference=0
growth_sizes="1000 2000 5000 10000 20000 60000"
while (($#)); do
    case $1 in
        --reference-limit) reference_limit=$2; shift ;;
        --skip-reference) skip_reference=1 ;;
        --only) only=$2; shift ;;
        --no-growth) growth=0 ;;
        --no-classify) classify=0 ;;
        --classify-sets) classify_sets=$2; shift ;;
        --growth-only) workloads=0 ;;
        --growth-reference) growth_reference=1 ;;
        --growth-sizes) growth_sizes=$2; shift ;;
        -h | --help) sed -n '2,20p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1" >&2; exit 2 ;;
    esac
    shift
done

# The Fashion-MNIST images, gnuplot, Google Benchmark and LIBSVM's tools:
# installed here when missing.
bash scripts/install_deps.sh bench >&2

# ---- build and data ----
build=$root/build/release
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
cmake --build "$build" -j 2 --target programma programma_reference sample_load run_timed digit-tools >/dev/null
fast=$build/programma
reference=$build/programma_reference
loader=$build/bench/sample_load

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

# The Fashion-MNIST sample files, from the IDX files of Debian's
# dataset-fashion-mnist: every image averaged onto 16x16 by area and scaled
# to -1..1. fashion_train (60000 rows) and fashion_test (10000 rows), and
# their leading rows: fashion_train_N and fashion_test_1000.
make_fashion_data() {
    local source=${FASHION_MNIST_DIR:-/usr/share/datasets/fashion-mnist} name n
    for name in train-images-idx3-ubyte train-labels-idx1-ubyte t10k-images-idx3-ubyte t10k-labels-idx1-ubyte; do
        if [[ ! -r $source/$name.gz ]]; then
            echo "missing $source/$name.gz: run scripts/install_deps.sh bench" >&2
            exit 1
        fi
        gzip -dc "$source/$name.gz" >"$work/$name"
    done
    mkdir -p "$data"
    "$build/digit-tools" convert --from idx --resample 16 --scale -o "$data/fashion_train.tmp" \
        "$work/train-images-idx3-ubyte" "$work/train-labels-idx1-ubyte"
    "$build/digit-tools" convert --from idx --resample 16 --scale -o "$data/fashion_test.tmp" \
        "$work/t10k-images-idx3-ubyte" "$work/t10k-labels-idx1-ubyte"
    for n in 1000 2000 5000 10000 20000; do
        head -n "$n" "$data/fashion_train.tmp" >"$data/fashion_train_$n"
    done
    head -n 1000 "$data/fashion_test.tmp" >"$data/fashion_test_1000"
    # The full files last, so that their presence means the set is complete.
    mv "$data/fashion_test.tmp" "$data/fashion_test"
    mv "$data/fashion_train.tmp" "$data/fashion_train"
}

data=$root/bench/data
if [[ ! -f $data/fashion_train || ! -f $data/fashion_test ]]; then
    echo "making the Fashion-MNIST sample files in bench/data ..." >&2
    make_fashion_data
fi

# ---- measuring ----

# timed NAME LIMIT STDIN COMMAND...: runs the command with standard input from
# STDIN and standard output to $work/NAME.out; sets seconds (wall time),
# peak_mib (peak resident memory) and timed_out. LIMIT 0 means no limit.
timed() {
    local name=$1 limit=$2 input=$3
    shift 3
    local status=0
    local -a guard=()
    if ((limit > 0)); then guard=(timeout "$limit"); fi
    "${guard[@]}" "$build/bench/run_timed" "$work/$name.time" "$@" <"$input" >"$work/$name.out" || status=$?
    timed_out=0
    peak_mib="-"
    if ((limit > 0 && status == 124)); then
        timed_out=1
        seconds=$limit
    elif ((status != 0)); then
        echo "$name: exit status $status" >&2
        exit 1
    else
        seconds=$(awk '{ printf "%.4f", $1 }' "$work/$name.time")
        peak_mib=$(awk '{ printf "%.0f", $2 / 1024 }' "$work/$name.time")
    fi
}

format_seconds() {
    awk -v s="$1" 'BEGIN { if (s < 0.1) printf "%.1f ms", s * 1000; else if (s < 10) printf "%.2f s", s; else printf "%.1f s", s }'
}

rows=()
# workload LABEL NAME STDIN REFERENCE_COMMAND -- FAST_COMMAND
workload() {
    local label=$1 name=$2 input=$3
    shift 3
    local -a ref_cmd=()
    while [[ $1 != -- ]]; do ref_cmd+=("$1"); shift; done
    shift
    if [[ -n $only && $only != "$name" ]]; then return; fi
    echo "running $name ..." >&2

    local ref_time="skipped" ratio="-" identical="-" ref_peak="-" ref_seconds="" ref_timed_out=0
    if ((skip_reference == 0)); then
        timed "$name.reference" "$reference_limit" "$input" "${ref_cmd[@]}"
        ref_seconds=$seconds
        ref_timed_out=$timed_out
        ref_peak=$peak_mib
    fi
    timed "$name.fast" 0 "$input" "$@"
    local fast_seconds=$seconds fast_peak=$peak_mib

    # Short runs are noisy: the fast program's time is the best of five runs,
    # the reference's the best of five under two seconds, of three under a
    # minute, else of one.
    local ref_rounds=1 round
    if ((skip_reference == 0 && !ref_timed_out)); then
        ref_rounds=$(awk -v r="$ref_seconds" 'BEGIN { print (r < 2 ? 5 : (r < 60 ? 3 : 1)) }')
    fi
    for round in 2 3 4 5; do
        if ((skip_reference == 0 && !ref_timed_out && round <= ref_rounds)); then
            timed "$name.reference" 0 "$input" "${ref_cmd[@]}"
            ref_seconds=$(awk -v a="$ref_seconds" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
        fi
        timed "$name.fast" 0 "$input" "$@"
        fast_seconds=$(awk -v a="$fast_seconds" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
    done

    if ((skip_reference == 0)); then
        if ((ref_timed_out)); then
            ref_time="> ${reference_limit} s"
            ratio=$(awk -v r="$reference_limit" -v f="$fast_seconds" 'BEGIN { printf "> %.1fx", r / f }')
            identical="not compared"
        else
            ref_time=$(format_seconds "$ref_seconds")
            ratio=$(awk -v r="$ref_seconds" -v f="$fast_seconds" 'BEGIN { printf "%.1fx", r / f }')
            if cmp -s "$work/$name.reference.out" "$work/$name.fast.out"; then
                identical="yes"
            else
                identical="NO"
            fi
        fi
    fi
    rows+=("| $label | $ref_time | $(format_seconds "$fast_seconds") | $ratio | $ref_peak / $fast_peak | $identical |")
}

echo "# programma end-to-end benchmarks"
echo
echo "- date: $(date -u '+%Y-%m-%d %H:%M UTC'), commit $(git rev-parse --short HEAD 2>/dev/null || echo unknown)"
echo "- machine: $(lscpu | sed -n 's/^Model name: *//p' | head -n 1), $(nproc) hardware threads, $(free -g | awk '/^Mem:/ { print $2 }') GiB memory"
echo "- load average before the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "- PROGRAMMA_THREADS=${PROGRAMMA_THREADS:-(all)}, PROGRAMMA_CACHE_MB=${PROGRAMMA_CACHE_MB:-(a quarter of memory)}"
echo

if [[ $only == classify ]]; then workloads=0; growth=0; fi
if ((workloads)); then
    workload "gaussian, 60000 train / 1000 test, digit 3, 2 epochs" gauss60k /dev/null \
        "$reference" -k gauss -dg 3 -e 2 -tr "$data/fashion_train" -ts "$data/fashion_test_1000" -- \
        "$fast" -k gauss -dg 3 -e 2 -tr "$data/fashion_train" -ts "$data/fashion_test_1000"
    workload "gaussian, 5000 train / 1000 test, digit 3, 5 epochs" gauss5k /dev/null \
        "$reference" -k gauss -dg 3 -e 5 -tr "$data/fashion_train_5000" -ts "$data/fashion_test_1000" -- \
        "$fast" -k gauss -dg 3 -e 5 -tr "$data/fashion_train_5000" -ts "$data/fashion_test_1000"
    workload "voted, 60000 train / 10000 test, digit 3, 1 epoch" voted /dev/null \
        "$reference" -vot 1 -dg 3 -e 1 -tr "$data/fashion_train" -ts "$data/fashion_test" -- \
        "$fast" -vot 1 -dg 3 -e 1 -tr "$data/fashion_train" -ts "$data/fashion_test"
    workload "default polynomial run on Data/ (trace to a file)" pol /dev/null \
        "$reference" -- "$fast"
    workload "loading 60000 x 257 (stream reader vs program's reader)" load /dev/null \
        "$loader" stream "$data/fashion_train" -- "$loader" program "$data/fashion_train"

    echo "| workload | reference | fast | ratio | peak MiB (ref / fast) | identical output |"
    echo "|---|---|---|---|---|---|"
    printf '%s\n' "${rows[@]}"
    echo
    echo "The loading row compares a plain fscanf(\"%f\") reader (reference column) with the"
    echo "engine's loader, measure_samples + load_samples (fast column); both print the size and a"
    echo "checksum of the loaded floats, and those are compared."
    echo
fi

# ---- growth with the training-set size ----
if ((growth)); then
    table=$data/growth.dat
    : >"$table"
    echo "| training rows | fast run | mistakes (saved list lines, both epochs) |$( ((growth_reference)) && echo ' reference run | identical output and list |')"
    echo "|---|---|---|$( ((growth_reference)) && echo '---|---|')"
    for size in $growth_sizes; do
        echo "growth: $size rows ..." >&2
        train=$data/fashion_train_$size
        [[ $size == 60000 ]] && train=$data/fashion_train
        printf 'y\n%s\n' "$work/growth_$size.fast.list" >"$work/answer_fast"
        timed "growth_$size.fast" 0 "$work/answer_fast" \
            "$fast" -k gauss -dg 3 -e 2 -tr "$train" -ts "$data/fashion_test_1000"
        fast_seconds=$seconds
        mistakes=$(wc -l <"$work/growth_$size.fast.list")
        extra=""
        reference_seconds="-"
        if ((growth_reference)); then
            # The same list path, since the program prints it: keep the fast
            # program's list aside and compare both lists too.
            mv "$work/growth_$size.fast.list" "$work/growth_$size.fast.list.kept"
            timed "growth_$size.reference" 0 "$work/answer_fast" \
                "$reference" -k gauss -dg 3 -e 2 -tr "$train" -ts "$data/fashion_test_1000"
            same=NO
            if cmp -s "$work/growth_$size.reference.out" "$work/growth_$size.fast.out" &&
                cmp -s "$work/growth_$size.fast.list" "$work/growth_$size.fast.list.kept"; then
                same=yes
            fi
            extra=" $(format_seconds "$seconds") | $same |"
            reference_seconds=$seconds
        fi
        echo "| $size | $(format_seconds "$fast_seconds") | $mistakes |$extra"
        echo "$size $fast_seconds $mistakes $reference_seconds" >>"$table"
    done
    echo
    curves="\"$table\" using 1:2 with linespoints lw 2 pt 7 title \"fast run time (s)\", "
    if ((growth_reference)); then
        curves+="\"$table\" using 1:4 with linespoints lw 2 pt 9 title \"reference run time (s)\", "
    fi
    curves+="\"$table\" using 1:3 axes x1y2 with linespoints lw 2 pt 5 title \"mistakes\""
    gnuplot <<GNUPLOT
set terminal pngcairo size 720,432 font ",10"
set output "$root/bench/growth.png"
set title "gaussian kernel, digit 3, 2 epochs, 1000 test rows"
set xlabel "training rows"
set logscale x
set logscale y
set logscale y2
set xrange [800:80000]
set xtics ("1k" 1000, "2k" 2000, "5k" 5000, "10k" 10000, "20k" 20000, "60k" 60000)
set ylabel "run time (s)"
set datafile missing "-"
set y2label "training mistakes (saved list lines)"
set y2tics
set ytics nomirror
set key left top
set grid
plot $curves
GNUPLOT
    echo "Plot: bench/growth.png"
fi

# ---- the ten-class recogniser beside LIBSVM ----
# classify_row SET LABEL COMMAND...: one timed run (best of `rounds`) and the
# ten-class test error it reports.
classify_row() {
    local set=$1 label=$2
    shift 2
    local best="" round
    for ((round = 0; round < rounds; round++)); do
        timed "classify" 0 /dev/null "$@"
        best=$(awk -v a="${best:-$seconds}" -v b="$seconds" 'BEGIN { print (b < a ? b : a) }')
    done
    local error
    error=$(sed -n 's/^Ten-class test error: \([0-9]*\) wrong of \([0-9]*\) rows, \(.*\)%$/\3% (\1 of \2)/p' "$work/classify.out")
    echo "| $set | $label | $(format_seconds "$best") | $(awk -v l="$libsvm_seconds" -v b="$best" 'BEGIN { printf "%.1fx", l / b }') | $error |"
}

if ((classify)) && [[ -z $only || $only == classify ]]; then
    tools=$build/digit-tools
    echo "| set | recogniser | train and test | faster than LIBSVM | ten-class test error (wrong of rows) |"
    echo "|---|---|---|---|---|"
    for set in $classify_sets; do
        case $set in
            shipped) train=$root/Data/Training_set test=$root/Data/Test_set name="shipped data, 1200 / 597" rounds=5 ;;
            5000) train=$data/fashion_train_5000 test=$data/fashion_test_1000 name="Fashion 16x16, 5000 / 1000" rounds=3 ;;
            60000) train=$data/fashion_train test=$data/fashion_test name="Fashion 16x16, 60000 / 10000" rounds=1 ;;
            *) echo "no classify set '$set'" >&2; exit 2 ;;
        esac
        echo "classify: $name ..." >&2
        "$tools" convert --to libsvm "$train" -o "$work/train.svm"
        "$tools" convert --to libsvm "$test" -o "$work/test.svm"
        # LIBSVM's own ten-class training (one against one inside) with the
        # kernel (u.v + 1)^2, everything else at its defaults.
        cat >"$work/libsvm.sh" <<SCRIPT
svm-train -q -t 1 -d 2 -g 1 -r 1 "$work/train.svm" "$work/model" &&
    svm-predict "$work/test.svm" "$work/model" "$work/predicted"
SCRIPT
        timed "libsvm" 0 /dev/null bash "$work/libsvm.sh"
        libsvm_seconds=$seconds
        libsvm_error=$(sed -n 's/^Accuracy = .*(\([0-9]*\)\/\([0-9]*\)).*/\1 \2/p' "$work/libsvm.out" |
            awk '{ printf "%f%% (%d of %d)", 100 * ($2 - $1) / $2, $2 - $1, $2 }')
        echo "| $name | svm-train -t 1 -d 2 -g 1 -r 1 + svm-predict | $(format_seconds "$libsvm_seconds") | - | $libsvm_error |"
        for run in "gauss 1" "gauss 2" "gauss 5" "pol 1" "pol 2"; do
            read -r kernel epochs <<<"$run"
            classify_row "$name" "classify -k $kernel -e $epochs" \
                "$tools" classify -k "$kernel" -e "$epochs" -tr "$train" -ts "$test"
        done
    done
    echo
fi

echo
echo "Load average after the runs: $(cut -d' ' -f1-3 /proc/loadavg)"
